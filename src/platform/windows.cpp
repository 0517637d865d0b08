// The Windows side of the platform, on msvcrt and KERNEL32: arguments taken
// as typed from the wide command line, binary reads of standard input, the
// console's code pages and the 64-bit local time.
#include <fcntl.h>
#include <io.h>
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstring>
#include <cwchar>

#include "input/utf16.hpp"
#include "platform/code_page.hpp"
#include "platform/platform.hpp"

extern "C" {
// The pattern must arrive as typed: without this the runtime would replace an
// argument such as "*" with the names of the files in the current folder.
int _dowildcard = 0;

// msvcrt's own reading of the wide command line, the one its wide start-up
// hands to wmain; declared here as mingw-w64 keeps it in an internal header.
// Its last argument points to a _startupinfo, which holds one int, the
// new-handler mode.
int __wgetmainargs(int *argc, wchar_t ***argv, wchar_t ***environment, int expand_wildcards, int *new_mode);
}

namespace {

// Room for every converted argument: a Windows command line holds at most
// 32,767 characters, and each becomes at most 3 bytes in each of the
// pattern's forms (the limits take one form), with a NUL for each argument.
char converted[FORM_LIMIT * 3 * 32768];
size_t converted_used;

// `wide` in code page `code_page`, or nullptr when a character has no exact
// form there. UTF-8 is written by the program's own encoder, which takes a
// lone surrogate for U+FFFD rather than fail.
const char *convert(wchar_t *wide, unsigned code_page)
{
    const size_t length = std::wcslen(wide);
    char *out = converted + converted_used;
    const size_t room = sizeof converted - converted_used;
    if (3 * length + 1 > room)
        return nullptr;
    size_t written = 0;
    if (code_page == CP_UTF8) {
        written = utf16_to_utf8(reinterpret_cast<uint16_t *>(wide), length, out);
    } else if (length > 0) {
        const int n = exactly_in_code_page(code_page, wide, static_cast<int>(length), out, static_cast<int>(room - 1));
        if (n < 0)
            return nullptr;
        written = static_cast<size_t>(n);
    }
    out[written] = '\0';
    converted_used += written + 1;
    return out;
}

void add_form(pattern_forms &forms, const char *form)
{
    if (!form)
        return;
    for (size_t i = 0; i < forms.count; i++) {
        if (std::strcmp(forms.form[i], form) == 0)
            return;
    }
    forms.form[forms.count++] = form;
}

}  // namespace

void platform_command_line(int, char **, command_line &line)
{
    int count = 0;
    wchar_t **wide = nullptr, **environment = nullptr;
    int new_mode = 0;
    if (__wgetmainargs(&count, &wide, &environment, 0, &new_mode) != 0 || !wide)
        count = 0;
    line.count = count < ARGUMENT_LIMIT ? count : ARGUMENT_LIMIT;
    line.arguments[0] = "active-users";
    for (int i = 2; i < line.count; i++)
        line.arguments[i] = convert(wide[i], CP_UTF8);  // limits: only ASCII digits, signs and blanks count
    line.forms.count = 0;
    if (line.count > 1) {
        add_form(line.forms, convert(wide[1], CP_OEMCP));
        add_form(line.forms, convert(wide[1], CP_ACP));
        add_form(line.forms, convert(wide[1], CP_UTF8));
        line.arguments[1] = line.forms.form[0];
    } else {
        add_form(line.forms, parse_settings(line.count, line.arguments).pattern);
    }
}

// Binary: the program applies the text-file rules itself, after decoding
// UTF-16, whose units may hold the bytes 0x1A and CR LF.
void platform_prepare_input(int descriptor)
{
    (void)_setmode(descriptor, _O_BINARY);
}

// No signal interrupts a read here.
long read_descriptor(void *source, char *into, size_t capacity)
{
    // _read takes an unsigned int count; the scan's block size fits.
    return _read(*static_cast<int *>(source), into, static_cast<unsigned>(capacity));
}

// The OEM code page is what cmd.exe and the console show, so the report's
// copy of a UTF-16 listing reads right there.
size_t platform_console_text(uint16_t *units, size_t count, char *out)
{
    if (count == 0)
        return 0;
    repair_utf16(units, count);
    const int written = shown_in_code_page(CP_OEMCP, reinterpret_cast<const wchar_t *>(units), static_cast<int>(count),
                                           out, static_cast<int>(3 * count));
    // A conversion that fails (GB18030 may want 4 bytes for one unit) must
    // not lose the text and its lines: it is written as UTF-8 instead.
    return written > 0 ? static_cast<size_t>(written) : utf16_to_utf8(units, count, out);
}

// msvcrt has no localtime_r; its localtime keeps a per-thread result, which
// is as safe for this single-threaded program. The build maps time_t onto
// msvcrt's _time64 and _localtime64.
bool platform_local_time(std::time_t clock_reading, std::tm &local)
{
    static_assert(sizeof(std::time_t) == 8, "a 32-bit clock reading fails from January 2038 on");
    const std::tm *converted_time = std::localtime(&clock_reading);
    if (!converted_time)
        return false;
    local = *converted_time;
    return true;
}

void platform_make_resident(char *memory, size_t size)
{
    touch_pages(memory, size);
}
