// The one error the helper units raise: an input/output failure on a file that the
// program itself writes or opens ("Cannot open file %s", wininit.ini, the removal script).
// Everything else reports failure through its result.
#pragma once

#include <stdexcept>
#include <string>

class EInOutError : public std::runtime_error {
public:
    explicit EInOutError(const std::string& message) : std::runtime_error(message) {}
};
