// The sessions Windows keeps, through the Terminal Services API: numbers and
// names, never a listing's text, so no code page or display language is
// involved. wtsapi32.dll is loaded from the system folder at run time, so a
// system without it gives UNKNOWN rather than a loader error.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <winsock2.h>
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

// What one session's queries tell; `error` is that of the first that failed.
struct session_facts {
    name_text user, domain, station, host;
    bool remote;
    int64_t idle_seconds, inactive_seconds, logon_time;
    DWORD error;
};

// Asks `what` of session `id`; the answer, freed with calls.release, or
// nullptr with the error kept in `facts`.
void *ask(const terminal_services &calls, DWORD id, WTS_INFO_CLASS what, session_facts &facts)
{
    LPWSTR answer = nullptr;
    DWORD bytes = 0;
    if (calls.query(WTS_CURRENT_SERVER_HANDLE, id, what, &answer, &bytes) && answer)
        return answer;
    facts.error = facts.error ? facts.error : GetLastError();
    return nullptr;
}

// Seconds between two FILETIME-like counts of 100 ns; -1 when `since` is 0.
int64_t seconds_between(const LARGE_INTEGER &since, const LARGE_INTEGER &now)
{
    if (since.QuadPart == 0)
        return -1;
    const int64_t seconds = (now.QuadPart - since.QuadPart) / 10000000;
    return seconds > 0 ? seconds : 0;
}

// The user, the domain and the times: its last input (a disconnected
// session has none; its disconnection stands for it) and its logon.
void ask_session_info(const terminal_services &calls, DWORD id, bool disconnected, session_facts &facts)
{
    auto *info = static_cast<WTSINFOW *>(ask(calls, id, WTSSessionInfo, facts));
    if (!info)
        return;
    to_name(info->UserName, facts.user);
    to_name(info->Domain, facts.domain);
    const int64_t since_input = seconds_between(info->LastInputTime, info->CurrentTime);
    const int64_t since_disconnect = seconds_between(info->DisconnectTime, info->CurrentTime);
    facts.idle_seconds = disconnected ? since_disconnect : since_input;
    facts.inactive_seconds = disconnected ? since_disconnect : -1;
    // FILETIME counts from 1601; Unix time from 1970, 11644473600 s later.
    facts.logon_time = info->LogonTime.QuadPart ? info->LogonTime.QuadPart / 10000000 - 11644473600LL : -1;
    calls.release(info);
}

// Where the session is used from: the console is local; a remote session's
// IPv4 address, else its client's name.
void ask_client(const terminal_services &calls, DWORD id, session_facts &facts)
{
    auto *protocol = static_cast<USHORT *>(ask(calls, id, WTSClientProtocolType, facts));
    facts.remote = protocol && *protocol != 0;
    if (protocol)
        calls.release(protocol);
    auto *address = static_cast<WTS_CLIENT_ADDRESS *>(ask(calls, id, WTSClientAddress, facts));
    if (address && address->AddressFamily == AF_INET) {
        const BYTE *bytes = address->Address + 2;
        std::snprintf(facts.host, sizeof facts.host, "%u.%u.%u.%u", bytes[0], bytes[1], bytes[2], bytes[3]);
    }
    if (address)
        calls.release(address);
    auto *client = static_cast<LPWSTR>(facts.host[0] ? nullptr : ask(calls, id, WTSClientName, facts));
    if (client) {
        to_name(client, facts.host);
        calls.release(client);
    }
}

// One session, with the first query about it that failed; none when it
// logged off since it was listed.
void visit_session(const terminal_services &calls, const WTS_SESSION_INFOW &session, session_visitor visit,
                   void *context)
{
    static session_facts facts;
    facts = {};
    ask_session_info(calls, session.SessionId, session.State == WTSDisconnected, facts);
    ask_client(calls, session.SessionId, facts);
    if (facts.error == SESSION_GONE)
        return;
    to_name(session.pWinStationName, facts.station);
    session_record record{};
    record.user = facts.user;
    record.domain = facts.domain;
    record.place = facts.station;
    record.host = facts.host;
    record.class_name = record.state_name = "";
    record.id = static_cast<long>(session.SessionId);
    record.state = static_cast<int>(session.State);
    record.query_error = static_cast<int>(facts.error);
    record.remote = facts.remote;
    record.idle_seconds = facts.idle_seconds;
    record.inactive_seconds = facts.inactive_seconds;
    record.logon_time = facts.logon_time;
    visit(context, session_source::terminal_services, record);
}

}  // namespace

// The Terminal Services API answers at once or fails; it has no lock to
// wait for, so the deadline is not needed, and one query gives the times.
source_answer platform_read_sessions(session_source source, int64_t, bool, session_visitor visit, void *context,
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
