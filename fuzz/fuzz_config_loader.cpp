// The configuration path as an attacker reaches it: bytes in a file, then the whole loader
// with every query it makes.

#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/unicode.h"
#include "config/product_uninstaller.h"
#include "fuzz/fuzz_common.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::isolate();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = fuzzsupport::scratchFolder() + "config.xml";
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        fuzzsupport::fail("cannot write the configuration");
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n <= 0)
            fuzzsupport::fail("short write");
        done += static_cast<size_t>(n);
    }
    ::close(fd);
    velkaro::ProductUninstaller uninstaller;
    if (uninstaller.loadUninstallConfig(zoka::fromUtf8(path))) {
        // The listing's keys, as the driver prints them.
        size_t total = 0;
        for (const auto& product : uninstaller.productsToRemove)
            total += velkaro::productKey(product).size();
        (void)total;
    }
    return 0;
}
