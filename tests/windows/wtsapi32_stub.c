/* A stand-in wtsapi32.dll for the check's tests under wine, whose own lists
 * no session: it serves the sessions WTS_STUB_SESSIONS describes, entries
 * "ID STATE USER CLIENT IDLE" joined by ';'. STATE is a
 * WTS_CONNECTSTATE_CLASS number; USER "DOMAIN\user", "user" or "-" for
 * none; CLIENT "-" for the console, an IPv4 address or a client's name for
 * a remote session; IDLE the minutes since its last input (since it was
 * disconnected, for a disconnected one) or "-" for none. USER or CLIENT
 * "!N": the query about it fails with error N. Copied into the prefix's
 * system32 and loaded with WINEDLLOVERRIDES=wtsapi32=n. */
#define WIN32_LEAN_AND_MEAN
#include <winsock2.h>
#include <windows.h>
#include <wtsapi32.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define MOST 64

struct stub_session {
    DWORD id, state;
    char user[64], client[64], idle[16];
};

static struct stub_session sessions[MOST];
static DWORD session_count;

static void read_sessions(void)
{
    char text[4096];
    DWORD length = GetEnvironmentVariableA("WTS_STUB_SESSIONS", text, sizeof text);
    session_count = 0;
    if (length == 0 || length >= sizeof text)
        return;
    for (char *entry = strtok(text, ";"); entry && session_count < MOST; entry = strtok(NULL, ";")) {
        struct stub_session *s = &sessions[session_count];
        if (sscanf(entry, "%lu %lu %63s %63s %15s", &s->id, &s->state, s->user, s->client, s->idle) == 5)
            session_count++;
    }
}

static void *copy_of(const void *data, size_t size)
{
    void *copy = HeapAlloc(GetProcessHeap(), 0, size);
    if (copy)
        memcpy(copy, data, size);
    return copy;
}

static void station_name(DWORD id, WCHAR *name, size_t size)
{
    swprintf(name, size, id == 0 ? L"Services" : id == 1 ? L"Console" : id >= 65536 ? L"RDP-Tcp" : L"RDP-Tcp#%lu",
             id);
}

__declspec(dllexport) BOOL WINAPI WTSEnumerateSessionsW(HANDLE server, DWORD reserved, DWORD version,
                                                        PWTS_SESSION_INFOW *list, DWORD *count)
{
    static WCHAR names[MOST][32];
    WTS_SESSION_INFOW info[MOST];
    (void)server, (void)reserved, (void)version;
    read_sessions();
    for (DWORD i = 0; i < session_count; i++) {
        station_name(sessions[i].id, names[i], 32);
        info[i].SessionId = sessions[i].id;
        info[i].pWinStationName = names[i];
        info[i].State = (WTS_CONNECTSTATE_CLASS)sessions[i].state;
    }
    *list = copy_of(info, sizeof info[0] * (session_count ? session_count : 1));
    *count = session_count;
    return *list != NULL;
}

/* "!N": fails with error N. */
static BOOL failed(const char *value)
{
    if (value[0] != '!')
        return FALSE;
    SetLastError((DWORD)atol(value + 1));
    return TRUE;
}

static void to_wide(const char *value, WCHAR *wide, int size)
{
    MultiByteToWideChar(CP_UTF8, 0, strcmp(value, "-") == 0 ? "" : value, -1, wide, size);
}

static BOOL session_info(const struct stub_session *s, LPWSTR *buffer, DWORD *bytes)
{
    WTSINFOW info;
    char domain[64] = "";
    const char *user = s->user, *slash = strchr(s->user, '\\');
    FILETIME now;
    LONGLONG ticks, idle = strcmp(s->idle, "-") == 0 ? -1 : atol(s->idle) * 600000000LL;
    if (failed(s->user))
        return FALSE;
    memset(&info, 0, sizeof info);
    if (slash) {
        memcpy(domain, s->user, (size_t)(slash - s->user));
        user = slash + 1;
    }
    info.State = (WTS_CONNECTSTATE_CLASS)s->state;
    info.SessionId = s->id;
    station_name(s->id, info.WinStationName, WINSTATIONNAME_LENGTH);
    to_wide(domain, info.Domain, DOMAIN_LENGTH + 1);
    to_wide(user, info.UserName, USERNAME_LENGTH + 1);
    GetSystemTimeAsFileTime(&now);
    ticks = ((LONGLONG)now.dwHighDateTime << 32) | now.dwLowDateTime;
    info.CurrentTime.QuadPart = ticks;
    info.LogonTime.QuadPart = ticks - 36000000000LL; /* an hour ago */
    if (idle >= 0 && s->state == WTSDisconnected)
        info.DisconnectTime.QuadPart = ticks - idle;
    else if (idle >= 0)
        info.LastInputTime.QuadPart = ticks - idle;
    *bytes = sizeof info;
    *buffer = copy_of(&info, sizeof info);
    return *buffer != NULL;
}

static BOOL client_info(const struct stub_session *s, WTS_INFO_CLASS what, LPWSTR *buffer, DWORD *bytes)
{
    unsigned a, b, c, d;
    const BOOL console = strcmp(s->client, "-") == 0;
    const BOOL address = sscanf(s->client, "%u.%u.%u.%u", &a, &b, &c, &d) == 4;
    if (what == WTSClientProtocolType) {
        USHORT protocol = console ? 0 : 2;
        *bytes = sizeof protocol;
        *buffer = copy_of(&protocol, sizeof protocol);
    } else if (what == WTSClientAddress) {
        WTS_CLIENT_ADDRESS client;
        if (failed(s->client))
            return FALSE;
        memset(&client, 0, sizeof client);
        client.AddressFamily = address ? AF_INET : AF_UNSPEC;
        client.Address[2] = (BYTE)a, client.Address[3] = (BYTE)b, client.Address[4] = (BYTE)c,
        client.Address[5] = (BYTE)d;
        *bytes = sizeof client;
        *buffer = copy_of(&client, sizeof client);
    } else {
        WCHAR name[64];
        to_wide(console || address ? "-" : s->client, name, 64);
        *bytes = (DWORD)(sizeof(WCHAR) * (wcslen(name) + 1));
        *buffer = copy_of(name, *bytes);
    }
    return *buffer != NULL;
}

__declspec(dllexport) BOOL WINAPI WTSQuerySessionInformationW(HANDLE server, DWORD id, WTS_INFO_CLASS what,
                                                              LPWSTR *buffer, DWORD *bytes)
{
    (void)server;
    for (DWORD i = 0; i < session_count; i++) {
        if (sessions[i].id != id)
            continue;
        if (what == WTSSessionInfo)
            return session_info(&sessions[i], buffer, bytes);
        if (what == WTSClientProtocolType || what == WTSClientAddress || what == WTSClientName)
            return client_info(&sessions[i], what, buffer, bytes);
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    SetLastError(7022); /* ERROR_CTX_WINSTATION_NOT_FOUND: logged off */
    return FALSE;
}

__declspec(dllexport) void WINAPI WTSFreeMemory(PVOID memory)
{
    HeapFree(GetProcessHeap(), 0, memory);
}
