// Pieces of the C++ run-time library replaced in the shipped program, which is linked
// statically and must start on every 32-bit Windows, Windows 95 included, at a size that
// suits a file copied into every application's folder. Only the program links this unit.
#include <windows.h>

#include <cstdlib>
#include <bits/functexcept.h>
#include <exception>
#include <new>

// The run-time library's default reaction to an uncaught exception prints the exception's
// demangled type name, which brings in the demangler and a complete printf (about 75 KB).
// The program catches every exception at the top of both threads; should one still end up
// in std::terminate, the process ends as abort ends it. Both the default handler and the
// variable that holds the current one are replaced, so that neither library unit is linked.
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx
namespace __cxxabiv1 {
std::terminate_handler __terminate_handler = __gnu_cxx::__verbose_terminate_handler;
}  // namespace __cxxabiv1

// The exception unwinder and the thread-local storage of the run-time library create their
// semaphores with CreateSemaphoreW, which Windows 95, 98 and Me export only as a stub that
// fails. They never name a semaphore, so the ANSI call serves them on every system. The
// import slot the library refers to is provided here, and kernel32's W entry stays out of
// the import table.
namespace {

HANDLE WINAPI CreateUnnamedSemaphore(LPSECURITY_ATTRIBUTES attributes, LONG initialCount,
                                     LONG maximumCount, LPCWSTR name) {
    if (name) {
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return nullptr;
    }
    return CreateSemaphoreA(attributes, initialCount, maximumCount, nullptr);
}

}  // namespace

extern "C" {
#if defined(__i386__)
extern decltype(&CreateUnnamedSemaphore) const ImportedCreateSemaphoreW
    __asm__("__imp__CreateSemaphoreW@16");
#else
extern decltype(&CreateUnnamedSemaphore) const ImportedCreateSemaphoreW
    __asm__("__imp_CreateSemaphoreW");
#endif
decltype(&CreateUnnamedSemaphore) const ImportedCreateSemaphoreW = CreateUnnamedSemaphore;
}

// The string and container code of the run-time library reports impossible lengths and
// positions through these functions, whose own exception types (std::length_error and the
// rest) bring the library's second, reference-counted string implementation along. Here
// they raise one small exception that carries the same message; the program catches every
// std::exception alike, and shows its message.
namespace {

class LibraryError : public std::exception {
public:
    explicit LibraryError(const char* message) : message_(message) {}
    const char* what() const noexcept override { return message_; }

private:
    const char* message_;
};

}  // namespace

namespace std {
void __throw_length_error(const char* message) { throw LibraryError(message); }
void __throw_logic_error(const char* message) { throw LibraryError(message); }
void __throw_out_of_range_fmt(const char*, ...) { throw LibraryError("position out of range"); }
void __throw_bad_alloc() { throw std::bad_alloc(); }
void __throw_bad_array_new_length() { throw std::bad_array_new_length(); }
}  // namespace std
