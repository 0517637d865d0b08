// UTF-16 into a Windows code page, asked the way each code page allows:
// WideCharToMultiByte refuses WC_NO_BEST_FIT_CHARS and a default character
// for UTF-8 and GB18030, and any flag at all for the stateful, ISCII, UTF-7
// and symbol code pages; refused, it writes nothing. Windows only; both
// programs convert through here.
#pragma once

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

// best_fit: takes WC_NO_BEST_FIT_CHARS and a default character, and says
// when it used one; every_character: writes every character (UTF-8 and
// GB18030), and takes WC_ERR_INVALID_CHARS alone; no_flags: takes neither,
// and cannot say whether a character was replaced.
enum class code_page_kind { best_fit, every_character, no_flags };

inline code_page_kind kind_of_code_page(UINT code_page)
{
    if (code_page == CP_ACP || code_page == CP_OEMCP)
        code_page = code_page == CP_ACP ? GetACP() : GetOEMCP();
    if (code_page == CP_UTF8 || code_page == 54936)
        return code_page_kind::every_character;
    if (code_page == 42 || code_page == CP_UTF7 || (code_page >= 50220 && code_page <= 50229) ||
        (code_page >= 57002 && code_page <= 57011))
        return code_page_kind::no_flags;
    return code_page_kind::best_fit;
}

// `length` units of `wide` in `code_page`, at most `room` bytes; -1 when a
// character has no exact form there, or that cannot be known.
inline int exactly_in_code_page(UINT code_page, const wchar_t *wide, int length, char *out, int room)
{
    BOOL inexact = FALSE;
    int written = -1;
    switch (kind_of_code_page(code_page)) {
    case code_page_kind::best_fit:
        written = WideCharToMultiByte(code_page, WC_NO_BEST_FIT_CHARS, wide, length, out, room, nullptr, &inexact);
        break;
    case code_page_kind::every_character:
        written = WideCharToMultiByte(code_page, WC_ERR_INVALID_CHARS, wide, length, out, room, nullptr, nullptr);
        break;
    case code_page_kind::no_flags:
        break;
    }
    return written > 0 && !inexact ? written : -1;
}

// `length` units of `wide` as `code_page` shows them, '?' (or the code
// page's own default) for what it cannot; 0 when the conversion fails.
inline int shown_in_code_page(UINT code_page, const wchar_t *wide, int length, char *out, int room)
{
    const bool best_fit = kind_of_code_page(code_page) == code_page_kind::best_fit;
    const int written = WideCharToMultiByte(code_page, best_fit ? WC_NO_BEST_FIT_CHARS : 0, wide, length, out, room,
                                            best_fit ? "?" : nullptr, nullptr);
    return written > 0 ? written : 0;
}
