// Two tiny libraries for the LoadLibraryW tests: a dependency that is built out of the loader's
// reach, and a module that needs it, so loading the module fails for want of the dependency.
#ifdef QUILLON_TEST_DEPENDENCY
extern "C" __attribute__((visibility("default"))) int QuillonTestDependencyAnswer()
{
    return 42;
}
#else
extern "C" int QuillonTestDependencyAnswer();

extern "C" __attribute__((visibility("default"))) int QuillonTestModuleAnswer()
{
    return QuillonTestDependencyAnswer();
}
#endif
