// A listing command on Windows: started by CreateProcessW in a job that
// ends every process in it with the check, its pipes read until a deadline.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cerrno>
#include <cwchar>

#include "check/system/system.hpp"

namespace {

struct windows_listing {
    HANDLE process, job;  // the command, and the job it runs in (nullptr: none could be had)
    HANDLE out, err;      // the read ends of its output pipes
};

windows_listing running;

void close_handle(HANDLE &handle)
{
    if (handle && handle != INVALID_HANDLE_VALUE)
        CloseHandle(handle);
    handle = nullptr;
}

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

// The command line CreateProcessW takes for `command`; false when it does
// not fit.
bool command_line(const char *const *command, wchar_t (&line)[32768])
{
    static wchar_t argument[32768];
    size_t used = 0;
    line[0] = L'\0';
    for (const char *const *at = command; *at; at++) {
        if (MultiByteToWideChar(CP_UTF8, 0, *at, -1, argument, 32768) <= 0 ||
            !quote_argument(argument, line, used, 32768))
            return false;
    }
    return true;
}

enum class pipe_state { open, ended, failed };

// Bytes waiting in a pipe; ended once its writers have all gone.
pipe_state peek(HANDLE pipe, DWORD &available)
{
    available = 0;
    if (PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr))
        return pipe_state::open;
    return GetLastError() == ERROR_BROKEN_PIPE ? pipe_state::ended : pipe_state::failed;
}

// Reads what standard error holds now. It only gives the reason, so a pipe
// that fails is one that has ended.
void read_errors(listing_run &run)
{
    DWORD available = 0;
    while (!run.err_ended) {
        if (peek(running.err, available) != pipe_state::open) {
            run.err_ended = true;
            return;
        }
        if (available == 0)
            return;
        char chunk[4096];
        DWORD got = 0;
        if (!ReadFile(running.err, chunk, available < sizeof chunk ? available : sizeof chunk, &got, nullptr)) {
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
    const DWORD waited = WaitForSingleObject(running.process, wait_ms);
    if (waited != WAIT_OBJECT_0) {
        if (waited == WAIT_FAILED)
            Sleep(wait_ms);  // the deadline ends the wait
        return;
    }
    DWORD status = 0;
    run.exited = true;
    run.exit_status = GetExitCodeProcess(running.process, &status) ? static_cast<int>(status) : -1;
    if (running.job)
        TerminateJobObject(running.job, 1);
}

bool own_failure(listing_run &run, const char *what)
{
    run.own_failure = what;
    run.error = static_cast<int>(GetLastError());
    return false;
}

// NUL for standard input and the two pipes, only the child's ends inheritable.
bool make_handles(listing_run &run, HANDLE (&handed)[3])
{
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    handed[0] =
        CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);
    if (handed[0] == INVALID_HANDLE_VALUE)
        return own_failure(run, "cannot open NUL");
    if (!CreatePipe(&running.out, &handed[1], &inherit, 0) || !CreatePipe(&running.err, &handed[2], &inherit, 0) ||
        !SetHandleInformation(running.out, HANDLE_FLAG_INHERIT, 0) ||
        !SetHandleInformation(running.err, HANDLE_FLAG_INHERIT, 0))
        return own_failure(run, "cannot make a pipe");
    return true;
}

// A job that ends every process in it when its last handle, the check's,
// closes: at the end of the check, or when the check itself is ended.
// nullptr where none can be had: the command itself is still ended at the
// deadline.
HANDLE make_job()
{
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (job && !SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits))
        close_handle(job);
    return job;
}

// Starts the command suspended, handing it only `handed`; the error of a
// start that fails is read before any other call.
bool create_process(listing_run &run, wchar_t *line, HANDLE (&handed)[3], PROCESS_INFORMATION &process)
{
    alignas(8) static char attribute_room[256];
    SIZE_T room = sizeof attribute_room;
    auto attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attribute_room);
    STARTUPINFOEXW start = {};
    start.StartupInfo.cb = sizeof start;
    start.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    start.StartupInfo.hStdInput = handed[0];
    start.StartupInfo.hStdOutput = handed[1];
    start.StartupInfo.hStdError = handed[2];
    // Without the list (before Windows Vista) it inherits every inheritable
    // handle, as CreateProcessW did then.
    if (InitializeProcThreadAttributeList(attributes, 1, 0, &room) &&
        UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handed, sizeof handed, nullptr,
                                  nullptr))
        start.lpAttributeList = attributes;
    const DWORD flags = CREATE_SUSPENDED | (start.lpAttributeList ? EXTENDED_STARTUPINFO_PRESENT : 0);
    const bool started =
        CreateProcessW(nullptr, line, nullptr, nullptr, TRUE, flags, nullptr, nullptr, &start.StartupInfo, &process);
    run.error = started ? 0 : static_cast<int>(GetLastError());
    if (start.lpAttributeList)
        DeleteProcThreadAttributeList(attributes);
    return started;
}

}  // namespace

bool platform_start_listing(listing_run &run, const char *const *command, int timeout_seconds)
{
    run = {};
    running = {};
    run.deadline_ms = platform_now_ms() + int64_t{timeout_seconds} * 1000;
    static wchar_t line[32768];
    if (!command_line(command, line)) {
        run.error = ERROR_FILENAME_EXCED_RANGE;
        return false;
    }
    HANDLE handed[3] = {};
    PROCESS_INFORMATION process = {};
    const bool started = make_handles(run, handed) && create_process(run, line, handed, process);
    for (HANDLE &handle : handed)
        close_handle(handle);
    if (!started) {
        platform_finish_listing(run);
        return false;
    }
    running.process = process.hProcess;
    running.job = make_job();
    // A check already in a job that forbids nesting (Windows 7) runs the
    // command without one.
    if (running.job && !AssignProcessToJobObject(running.job, process.hProcess))
        close_handle(running.job);
    const bool resumed = ResumeThread(process.hThread) != static_cast<DWORD>(-1);
    if (!resumed)
        own_failure(run, "cannot start the command's thread");
    CloseHandle(process.hThread);
    if (!resumed)
        platform_finish_listing(run);
    return resumed;
}

long platform_read_listing(void *source, char *into, size_t capacity)
{
    auto &run = *static_cast<listing_run *>(source);
    while (!run.out_ended) {
        if (past_deadline(run, platform_now_ms()))
            return -1;
        read_errors(run);
        DWORD available = 0;
        const pipe_state state = peek(running.out, available);
        DWORD got = 0;
        const DWORD asked = available < capacity ? available : static_cast<DWORD>(capacity);
        if (state == pipe_state::open && available > 0 && ReadFile(running.out, into, asked, &got, nullptr)) {
            run.out_bytes += got;
            return static_cast<long>(got);
        }
        // A pipe that fails is no end of the listing: what it lost is unknown.
        if (state == pipe_state::failed || (available > 0 && GetLastError() != ERROR_BROKEN_PIPE)) {
            errno = EIO;
            return -1;
        }
        if (state == pipe_state::ended || available > 0) {
            run.out_ended = true;
            break;
        }
        // Anonymous pipes cannot be waited on: the command's end can, and
        // meanwhile the pipes are looked at every 5 ms.
        settle(run, 5);
    }
    return 0;
}

void platform_finish_listing(listing_run &run)
{
    while (running.process && !run.exited && !run.timed_out) {
        read_errors(run);
        if (!past_deadline(run, platform_now_ms()))
            settle(run, 5);
    }
    if (running.job)
        TerminateJobObject(running.job, 1);
    else if (running.process && !run.exited)
        TerminateProcess(running.process, 1);
    // The job is gone; a process that left it (with its own breakaway) is
    // not waited for beyond 100 ms.
    const int64_t until = platform_now_ms() + 100;
    while (running.err && !run.err_ended && platform_now_ms() < until) {
        read_errors(run);
        Sleep(1);
    }
    close_handle(running.out);
    close_handle(running.err);
    close_handle(running.job);
    close_handle(running.process);
}
