// The sessions Windows keeps, through the Terminal Services API: numbers and
// names, never a listing's text, so no code page or display language is
// involved. wtsapi32.dll is loaded from the system folder at run time, so a
// system without it gives UNKNOWN rather than a loader error.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <wtsapi32.h>

#include <cstdio>
#include <cwchar>

#include "check/system/system.hpp"
#include "input/utf16.hpp"

const session_source *platform_session_sources()
{
    static const session_source SOURCES[] = {session_source::terminal_services, session_source::none};
    return SOURCES;
}

namespace {

// The query's error for a session that logged off since it was listed.
constexpr DWORD SESSION_GONE = 7022;  // ERROR_CTX_WINSTATION_NOT_FOUND

using enumerate_call = BOOL(WINAPI *)(HANDLE, DWORD, DWORD, PWTS_SESSION_INFOW *, DWORD *);
using query_call = BOOL(WINAPI *)(HANDLE, DWORD, WTS_INFO_CLASS, LPWSTR *, DWORD *);
using free_call = void(WINAPI *)(PVOID);

struct terminal_services {
    enumerate_call enumerate;
    query_call query;
    free_call release;
};

// GetProcAddress gives every call one type; through void * it takes its own.
template <typename call>
call find(HMODULE library, const char *name)
{
    return reinterpret_cast<call>(reinterpret_cast<void *>(GetProcAddress(library, name)));
}

bool load_terminal_services(terminal_services &calls)
{
    wchar_t path[MAX_PATH + 32];
    const UINT length = GetSystemDirectoryW(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return false;
    std::wcscpy(path + length, L"\\wtsapi32.dll");
    HMODULE library = LoadLibraryW(path);
    if (!library)
        return false;
    calls.enumerate = find<enumerate_call>(library, "WTSEnumerateSessionsW");
    calls.query = find<query_call>(library, "WTSQuerySessionInformationW");
    calls.release = find<free_call>(library, "WTSFreeMemory");
    return calls.enumerate && calls.query && calls.release;
}

// Enough for the first 64 units of a name as UTF-8, at most 3 bytes a unit.
using name_text = char[3 * 64 + 1];

// The first 64 units of `wide` (nullptr: none) as UTF-8.
void to_name(const wchar_t *wide, name_text &into)
{
    const size_t length = wide ? std::wcslen(wide) : 0;
    // utf16_to_utf8 changes no unit, whatever its signature says.
    into[utf16_to_utf8(reinterpret_cast<uint16_t *>(const_cast<wchar_t *>(wide)), length < 64 ? length : 64, into)] =
        '\0';
}

// A session's text as UTF-8, "" when it has none; the query's error when it fails.
DWORD session_text(const terminal_services &calls, DWORD id, WTS_INFO_CLASS what, name_text &into)
{
    LPWSTR text = nullptr;
    DWORD bytes = 0;
    const bool got = calls.query(WTS_CURRENT_SERVER_HANDLE, id, what, &text, &bytes);
    const DWORD error = got ? 0 : GetLastError();
    to_name(got ? text : nullptr, into);
    if (text)
        calls.release(text);
    return error;
}

// One session, with the first query about it that failed; none when it
// logged off since it was listed.
void visit_session(const terminal_services &calls, const WTS_SESSION_INFOW &session, session_visitor visit,
                   void *context)
{
    name_text user, station, client;
    DWORD error = session_text(calls, session.SessionId, WTSUserName, user);
    const DWORD client_error = session_text(calls, session.SessionId, WTSClientName, client);
    error = error ? error : client_error;
    if (error == SESSION_GONE)
        return;
    to_name(session.pWinStationName, station);
    session_record record{};
    record.user = user;
    record.place = station;
    record.host = client;
    record.class_name = record.state_name = "";
    record.id = static_cast<long>(session.SessionId);
    record.state = static_cast<int>(session.State);
    record.query_error = static_cast<int>(error);
    visit(context, session_source::terminal_services, record);
}

}  // namespace

// The Terminal Services API answers at once or fails; it has no lock to
// wait for, so the deadline is not needed.
source_answer platform_read_sessions(session_source source, int64_t, session_visitor visit, void *context,
                                     text_buffer &why)
{
    static terminal_services calls;
    char text[96];
    if (source != session_source::terminal_services)
        return source_answer::absent;
    if (!load_terminal_services(calls)) {
        std::snprintf(text, sizeof text, "wtsapi32.dll cannot be loaded (error %lu)", GetLastError());
        append(why, text);
        return source_answer::absent;
    }
    PWTS_SESSION_INFOW sessions = nullptr;
    DWORD count = 0;
    if (!calls.enumerate(WTS_CURRENT_SERVER_HANDLE, 0, 1, &sessions, &count)) {
        std::snprintf(text, sizeof text, "the Terminal Services API cannot list the sessions (error %lu)",
                      GetLastError());
        append(why, text);
        return source_answer::failed;
    }
    for (DWORD i = 0; i < count; i++)
        visit_session(calls, sessions[i], visit, context);
    calls.release(sessions);
    return source_answer::whole;
}
