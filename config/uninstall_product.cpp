#include "config/uninstall_product.h"

#include "base/unicode.h"

namespace velkaro {

std::wstring productKey(const UninstallProduct& product) {
    std::wstring key;
    key.reserve(product.sapCode.size() + product.version.size() + product.platform.size() + 2);
    key.append(product.sapCode)
        .append(L"_")
        .append(product.version)
        .append(L"_")
        .append(product.platform);
    return key;
}

bool ProductKeyLess::operator()(const UninstallProduct& a, const UninstallProduct& b) const {
    // The joined key is the identity: "A_1"/"2" and "A"/"1_2" are one product.
    return zoka::compareUtf16(productKey(a), productKey(b)) < 0;
}

}  // namespace velkaro
