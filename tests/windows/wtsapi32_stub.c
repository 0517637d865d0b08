/* A stand-in wtsapi32.dll for the check's tests under wine, whose own lists
 * no session: it serves the sessions WTS_STUB_SESSIONS describes, entries
 * "ID STATE USER CLIENT" joined by ';', STATE a WTS_CONNECTSTATE_CLASS
 * number, USER and CLIENT "-" for none or "!N" for a query that fails with
 * error N. Copied into the prefix's system32 and loaded with
 * WINEDLLOVERRIDES=wtsapi32=n. */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <wtsapi32.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define MOST 64

struct stub_session {
    DWORD id, state;
    char user[64], client[64];
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
        if (sscanf(entry, "%lu %lu %63s %63s", &s->id, &s->state, s->user, s->client) == 4)
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

__declspec(dllexport) BOOL WINAPI WTSEnumerateSessionsW(HANDLE server, DWORD reserved, DWORD version,
                                                        PWTS_SESSION_INFOW *list, DWORD *count)
{
    static WCHAR names[MOST][32];
    WTS_SESSION_INFOW info[MOST];
    (void)server, (void)reserved, (void)version;
    read_sessions();
    for (DWORD i = 0; i < session_count; i++) {
        const DWORD id = sessions[i].id;
        swprintf(names[i], 32, id == 0 ? L"Services" : id == 1 ? L"Console" : id >= 65536 ? L"RDP-Tcp" : L"RDP-Tcp#%lu",
                 id);
        info[i].SessionId = id;
        info[i].pWinStationName = names[i];
        info[i].State = (WTS_CONNECTSTATE_CLASS)sessions[i].state;
    }
    *list = copy_of(info, sizeof info[0] * (session_count ? session_count : 1));
    *count = session_count;
    return *list != NULL;
}

/* A session's text: "-" none, "!N" fails with error N. */
static BOOL answer(const char *value, LPWSTR *buffer, DWORD *bytes)
{
    WCHAR wide[64];
    if (value[0] == '!') {
        SetLastError((DWORD)atol(value + 1));
        return FALSE;
    }
    MultiByteToWideChar(CP_UTF8, 0, strcmp(value, "-") == 0 ? "" : value, -1, wide, 64);
    *bytes = (DWORD)(sizeof(WCHAR) * (wcslen(wide) + 1));
    *buffer = copy_of(wide, *bytes);
    return *buffer != NULL;
}

__declspec(dllexport) BOOL WINAPI WTSQuerySessionInformationW(HANDLE server, DWORD id, WTS_INFO_CLASS what,
                                                              LPWSTR *buffer, DWORD *bytes)
{
    (void)server;
    for (DWORD i = 0; i < session_count; i++) {
        if (sessions[i].id != id)
            continue;
        if (what == WTSUserName)
            return answer(sessions[i].user, buffer, bytes);
        if (what == WTSClientName)
            return answer(sessions[i].client, buffer, bytes);
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
