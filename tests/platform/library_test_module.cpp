// A tiny run-time library for the LoadLibraryW tests.
extern "C" __attribute__((visibility("default"))) int QuillonTestModuleAnswer()
{
    return 42;
}
