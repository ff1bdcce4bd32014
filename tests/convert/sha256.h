// SHA-256 of a byte string, as the sha256sum program prints it (64 lower-case hex digits), for
// tests that pin the exact bytes of outputs too large to keep as files.
#pragma once

#include <string>
#include <string_view>

namespace rawdat::test {

std::string sha256Hex(std::string_view bytes);

} // namespace rawdat::test
