// The check's process on Windows: its arguments read as typed from the wide
// command line, the pattern's forms in the console's code pages, a clock,
// and English texts for the errors it names.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <cwchar>
#include <initializer_list>

#include "check/system/system.hpp"
#include "input/utf16.hpp"
#include "platform/code_page.hpp"

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

// The form of `wide` in `code_page`, or nullptr where a character has none there.
const char *in_code_page(const wchar_t *wide, UINT code_page)
{
    const int length = static_cast<int>(std::wcslen(wide));
    char *out = converted + converted_used;
    const size_t room = sizeof converted - converted_used;
    const int written =
        length == 0 ? 0 : exactly_in_code_page(code_page, wide, length, out, static_cast<int>(room - 1));
    if (written < 0)
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
    if (MultiByteToWideChar(CP_UTF8, 0, pattern, -1, wide, 32768) <= 0)
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

// Windows' names ignore case: the key is the name in lower case, as
// Windows itself folds it, whatever the language.
void platform_name_key(const char *name, text_buffer &key)
{
    static wchar_t wide[1024];
    const int length = MultiByteToWideChar(CP_UTF8, 0, name, -1, wide, 1024);
    if (length <= 0)
        return append(key, name);
    // KERNEL32's own folding: the check loads no other library at its start.
    static wchar_t lower[1024];
    const int lowered = LCMapStringW(LOCALE_INVARIANT, LCMAP_LOWERCASE, wide, length - 1, lower, 1024);
    char folded[3 * 1024 + 1];
    // utf16_to_utf8 changes no unit, whatever its signature says.
    folded[utf16_to_utf8(reinterpret_cast<uint16_t *>(lowered > 0 ? lower : wide),
                         static_cast<size_t>(lowered > 0 ? lowered : length - 1), folded)] = '\0';
    append(key, folded);
}

bool platform_local_minute(int64_t seconds, char (&text)[20])
{
    const time_t clock = static_cast<time_t>(seconds);
    const tm *local = std::localtime(&clock);
    return local && std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M", local) > 0;
}

int64_t platform_now_ms()
{
    return static_cast<int64_t>(GetTickCount64());
}

// Nothing to change: a console's Ctrl-C or the end of the check closes the
// command's job, which ends all of it.
void platform_start_check() {}

void platform_set_ending_output(const char *, const char *) {}

void platform_hold_signals() {}
