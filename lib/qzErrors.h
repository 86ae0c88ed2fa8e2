// The one error the helper units raise: an input/output failure on a file that the
// program itself writes or opens ("Cannot open file %s", wininit.ini, the removal script).
// Everything else reports failure through its result.
#pragma once

#include <exception>
#include <string>

// Derived from std::exception itself: std::runtime_error would bring the run-time library's
// second string implementation into the program.
class EInOutError : public std::exception {
public:
    explicit EInOutError(std::string message) : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }

private:
    std::string message_;
};
