#include "print/print_impl.h"

namespace aio {

// Until the picture path is built, a picture job fails without a job: the picture path replaces
// this function.
bool PrintImpl::PrintImageImpl(const std::u16string&, std::int32_t&, const std::u16string&, const std::u16string&,
                               DEVMODEW*, bool, bool)
{
    return false;
}

} // namespace aio
