// The check's Windows side: its arguments read as typed from the wide
// command line, the pattern's forms in the console's code pages, and a
// listing command run by CreateProcessW in a job that ends with the check,
// its pipes read until a deadline.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <initializer_list>

#include "input/utf16.hpp"
#include "platform/system.hpp"

extern "C" {
// The same reading of the wide command line that active-users.exe uses.
int __wgetmainargs(int *argc, wchar_t ***argv, wchar_t ***environment, int expand_wildcards, int *new_mode);
}

namespace {

// A command line holds at most 32,767 characters, each at most 3 bytes of
// UTF-8, and the pattern's code-page forms take as much again.
char converted[3 * 3 * 32768 + 4 * (CHECK_ARGUMENT_LIMIT + 1)];
size_t converted_used;

const char *to_utf8(const wchar_t *wide)
{
    const size_t length = std::wcslen(wide);
    if (converted_used + 3 * length + 1 > sizeof converted)
        return nullptr;
    char *out = converted + converted_used;
    // utf16_to_utf8 changes no unit, whatever its signature says.
    const size_t written = utf16_to_utf8(reinterpret_cast<uint16_t *>(const_cast<wchar_t *>(wide)), length, out);
    out[written] = '\0';
    converted_used += written + 1;
    return out;
}

// `text` in UTF-16, or false when it does not fit `size` units.
bool to_wide(const char *text, wchar_t *into, int size)
{
    const int written = MultiByteToWideChar(CP_UTF8, 0, text, -1, into, size);
    return written > 0;
}

// The form of `wide` in `code_page`, or nullptr where a character has none there.
const char *in_code_page(const wchar_t *wide, UINT code_page)
{
    const int length = static_cast<int>(std::wcslen(wide));
    char *out = converted + converted_used;
    const size_t room = sizeof converted - converted_used;
    BOOL inexact = FALSE;
    const int written = length == 0 ? 0
                                    : WideCharToMultiByte(code_page, WC_NO_BEST_FIT_CHARS, wide, length, out,
                                                          static_cast<int>(room - 1), nullptr, &inexact);
    if ((length > 0 && written <= 0) || inexact)
        return nullptr;
    out[written] = '\0';
    converted_used += static_cast<size_t>(written) + 1;
    return out;
}

}  // namespace

bool platform_check_command_line(int, char **, check_command_line &line)
{
    int count = 0, new_mode = 0;
    wchar_t **wide = nullptr, **environment = nullptr;
    if (__wgetmainargs(&count, &wide, &environment, 0, &new_mode) != 0 || !wide || count > CHECK_ARGUMENT_LIMIT)
        return false;
    line.count = count;
    for (int i = 0; i < count; i++) {
        line.arguments[i] = to_utf8(wide[i]);
        if (!line.arguments[i])
            return false;
    }
    line.arguments[count] = nullptr;
    return true;
}

bool platform_pattern_forms(const char *pattern, pattern_forms &forms)
{
    static wchar_t wide[32768];
    if (!to_wide(pattern, wide, 32768))
        return false;
    forms = {{pattern}, 1};
    for (UINT code_page : {UINT{CP_OEMCP}, UINT{CP_ACP}}) {
        const char *form = in_code_page(wide, code_page);
        bool known = !form;
        for (size_t i = 0; i < forms.count && !known; i++)
            known = std::strcmp(forms.form[i], form) == 0;
        if (!known)
            forms.form[forms.count++] = form;
    }
    return true;
}

// Windows' own texts follow the display language; these stay English, as
// the check's line does.
const char *platform_error_text(int error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return "No such file or directory";
    case ERROR_ACCESS_DENIED:
        return "Permission denied";
    case ERROR_BAD_EXE_FORMAT:
        return "Not a program Windows can run";
    default:
        break;
    }
    static char text[48];
    std::snprintf(text, sizeof text, "Windows error %d", error);
    return text;
}

namespace {

// Appends `argument` as msvcrt and CommandLineToArgvW read it back: quoted
// when it holds a blank, a tab or a quote, or is empty; backslashes doubled
// only before a quote. False when the line is full.
bool quote_argument(const wchar_t *argument, wchar_t *line, size_t &used, size_t size)
{
    auto put = [&](wchar_t unit) {
        if (used + 2 > size)
            return false;
        line[used++] = unit;
        return true;
    };
    if (used && !put(L' '))
        return false;
    const bool plain = *argument && !std::wcspbrk(argument, L" \t\n\v\"");
    if (plain) {
        for (const wchar_t *at = argument; *at; at++) {
            if (!put(*at))
                return false;
        }
        line[used] = L'\0';
        return true;
    }
    bool fits = put(L'"');
    for (const wchar_t *at = argument;; at++) {
        size_t backslashes = 0;
        for (; *at == L'\\'; at++)
            backslashes++;
        const size_t times = *at == L'"' ? 2 * backslashes + 1 : *at == L'\0' ? 2 * backslashes : backslashes;
        for (size_t i = 0; i < times; i++)
            fits = fits && put(L'\\');
        if (*at == L'\0')
            break;
        fits = fits && put(*at);
    }
    fits = fits && put(L'"');
    line[used] = L'\0';
    return fits;
}

HANDLE handle_of(intptr_t value)
{
    return reinterpret_cast<HANDLE>(value);
}

void close_handle(intptr_t &value)
{
    if (value)
        CloseHandle(handle_of(value));
    value = 0;
}

int64_t now_ms()
{
    return static_cast<int64_t>(GetTickCount64());
}

// Bytes waiting in a pipe; false once its writers have all gone.
bool waiting(intptr_t pipe, DWORD &available)
{
    available = 0;
    return PeekNamedPipe(handle_of(pipe), nullptr, 0, nullptr, &available, nullptr) != 0;
}

// Reads what standard error holds now.
void read_errors(listing_run &run)
{
    DWORD available = 0;
    while (!run.err_ended) {
        if (!waiting(run.err, available)) {
            run.err_ended = true;
            return;
        }
        if (available == 0)
            return;
        char chunk[4096];
        DWORD got = 0;
        if (!ReadFile(handle_of(run.err), chunk, available < sizeof chunk ? available : sizeof chunk, &got, nullptr)) {
            run.err_ended = true;
            return;
        }
        keep_error_bytes(run, chunk, got);
    }
}

// Once the command has ended (within `wait_ms`), its status; what it left in
// its job is ended then.
void settle(listing_run &run, DWORD wait_ms)
{
    if (run.exited) {
        Sleep(wait_ms ? 1 : 0);
        return;
    }
    if (WaitForSingleObject(handle_of(run.process), wait_ms) != WAIT_OBJECT_0)
        return;
    DWORD status = 0;
    run.exited = true;
    run.exit_status = GetExitCodeProcess(handle_of(run.process), &status) ? static_cast<int>(status) : -1;
    if (run.group)
        TerminateJobObject(handle_of(run.group), 1);
}

}  // namespace

bool platform_start_listing(listing_run &run, const char *const *command, int timeout_seconds)
{
    run = {};
    run.deadline_ms = now_ms() + int64_t{timeout_seconds} * 1000;
    static wchar_t line[32768], argument[32768];
    size_t used = 0;
    line[0] = L'\0';
    for (const char *const *at = command; *at; at++) {
        if (!to_wide(*at, argument, 32768) || !quote_argument(argument, line, used, 32768)) {
            run.error = ERROR_FILENAME_EXCED_RANGE;
            return false;
        }
    }
    // Only the child's ends are inheritable, and only they are handed on.
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE out_read = nullptr, out_write = nullptr, err_read = nullptr, err_write = nullptr;
    HANDLE nothing =
        CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);
    const bool piped = nothing != INVALID_HANDLE_VALUE && CreatePipe(&out_read, &out_write, &inherit, 0) &&
                       CreatePipe(&err_read, &err_write, &inherit, 0) &&
                       SetHandleInformation(out_read, HANDLE_FLAG_INHERIT, 0) &&
                       SetHandleInformation(err_read, HANDLE_FLAG_INHERIT, 0);
    run.out = reinterpret_cast<intptr_t>(out_read);
    run.err = reinterpret_cast<intptr_t>(err_read);
    HANDLE handed[3] = {nothing, out_write, err_write};
    alignas(8) static char attribute_room[256];
    SIZE_T room = sizeof attribute_room;
    auto attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attribute_room);
    STARTUPINFOEXW start = {};
    start.StartupInfo.cb = sizeof start;
    start.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    start.StartupInfo.hStdInput = nothing;
    start.StartupInfo.hStdOutput = out_write;
    start.StartupInfo.hStdError = err_write;
    if (InitializeProcThreadAttributeList(attributes, 1, 0, &room) &&
        UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handed, sizeof handed, nullptr,
                                  nullptr))
        start.lpAttributeList = attributes;
    // Its job ends every process in it when its last handle, the check's,
    // closes: at the end of the check, or when the check itself is ended.
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (job)
        SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    PROCESS_INFORMATION process = {};
    const DWORD flags = CREATE_SUSPENDED | (start.lpAttributeList ? EXTENDED_STARTUPINFO_PRESENT : 0);
    const bool started = piped && CreateProcessW(nullptr, line, nullptr, nullptr, TRUE, flags, nullptr, nullptr,
                                                 &start.StartupInfo, &process);
    run.error = started ? 0 : static_cast<int>(GetLastError());
    if (start.lpAttributeList)
        DeleteProcThreadAttributeList(attributes);
    for (HANDLE handle : handed) {
        if (handle && handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
    }
    if (!started) {
        close_handle(run.out);
        close_handle(run.err);
        if (job)
            CloseHandle(job);
        return false;
    }
    // A check already in a job that forbids nesting (Windows 7) runs the
    // command without one: the command itself is still ended at the deadline.
    if (job && !AssignProcessToJobObject(job, process.hProcess)) {
        CloseHandle(job);
        job = nullptr;
    }
    ResumeThread(process.hThread);
    CloseHandle(process.hThread);
    run.process = reinterpret_cast<intptr_t>(process.hProcess);
    run.group = reinterpret_cast<intptr_t>(job);
    return true;
}

long platform_read_listing(void *source, char *into, size_t capacity)
{
    auto &run = *static_cast<listing_run *>(source);
    while (!run.out_ended) {
        if (past_deadline(run, now_ms()))
            return -1;
        read_errors(run);
        DWORD available = 0;
        if (!waiting(run.out, available)) {
            run.out_ended = true;
            break;
        }
        if (available > 0) {
            DWORD got = 0;
            const DWORD asked = available < capacity ? available : static_cast<DWORD>(capacity);
            if (!ReadFile(handle_of(run.out), into, asked, &got, nullptr)) {
                run.out_ended = true;
                break;
            }
            run.out_bytes += got;
            return static_cast<long>(got);
        }
        // Anonymous pipes cannot be waited on: the command's end can, and
        // meanwhile the pipes are looked at every 5 ms.
        settle(run, 5);
    }
    return 0;
}

void platform_finish_listing(listing_run &run)
{
    while (!run.exited && !run.timed_out) {
        read_errors(run);
        if (!past_deadline(run, now_ms()))
            settle(run, 5);
    }
    if (run.group)
        TerminateJobObject(handle_of(run.group), 1);
    else if (!run.exited)
        TerminateProcess(handle_of(run.process), 1);
    // The job is gone; a process that left it (with its own breakaway) is
    // not waited for beyond 100 ms.
    const int64_t until = now_ms() + 100;
    while (!run.err_ended && now_ms() < until) {
        read_errors(run);
        Sleep(1);
    }
    close_handle(run.out);
    close_handle(run.err);
    close_handle(run.group);
    close_handle(run.process);
}
