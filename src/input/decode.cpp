// The input stage: raw bytes in, the text the scan counts out, in one pass
// of three steps: the read, which on the first call also tells the encoding
// from a byte-order mark; UTF-16's decoding into the encoding a console shows;
// and the text-file rules. Input without a mark passes through untouched (on
// Linux with no copy at all).
#include "input/decode.hpp"

#include <bit>
#include <cstring>

#include "input/utf16.hpp"

namespace {

// The raw bytes a read may take so that its decoded text fits `room`: a
// unit becomes at most 3 bytes. Even, so that units never straddle the end
// of a read except where the input is odd.
size_t raw_room(size_t room)
{
    const size_t raw = room / 3 * 2;
    return raw < RAW_SIZE ? raw : RAW_SIZE;
}

// The first read tells the encoding from its first two bytes: FF FE is
// UTF-16LE and FE FF UTF-16BE; anything else is bytes, which stay in `text`.
// A mark may arrive a byte at a time through a pipe. Returns how many bytes
// came, and sets `input_ended` when fewer than two did.
long read_first(input_decoder &decoder, char *text, size_t room, bool &input_ended)
{
    size_t got = 0;
    long more = 1;
    while (got < 2 && more > 0) {
        more = decoder.read_raw(decoder.raw_source, text + got, room - got);
        if (more < 0)
            return -1;
        got += static_cast<size_t>(more);
    }
    input_ended = got < 2;
    const unsigned char first = got >= 2 ? text[0] : 0, second = got >= 2 ? text[1] : 0;
    decoder.encoding = first == 0xFF && second == 0xFE   ? input_encoding::utf16le
                       : first == 0xFE && second == 0xFF ? input_encoding::utf16be
                                                         : input_encoding::bytes;
    if (decoder.encoding == input_encoding::bytes)
        return static_cast<long>(got);
    std::memcpy(decoder.raw, text + 2, got - 2);
    decoder.raw_kept = got - 2;
    return static_cast<long>(decoder.raw_kept);
}

// Reads the next raw bytes: a byte listing's into `text`, UTF-16 behind the
// bytes kept from the last read.
long read_raw(input_decoder &decoder, char *text, size_t room, bool &input_ended)
{
    if (decoder.encoding == input_encoding::undecided)
        return read_first(decoder, text, raw_room(room), input_ended);
    const bool bytes = decoder.encoding == input_encoding::bytes;
    char *into = bytes ? text : reinterpret_cast<char *>(decoder.raw) + decoder.raw_kept;
    const long got = decoder.read_raw(decoder.raw_source, into, bytes ? room : raw_room(room) - decoder.raw_kept);
    input_ended = got == 0;
    if (got > 0 && !bytes)
        decoder.raw_kept += static_cast<size_t>(got);
    return got;
}

// The unit whose two bytes start at `pair`, in the input's byte order.
uint16_t unit_from(const unsigned char *pair, bool little)
{
    return static_cast<uint16_t>(little ? pair[0] | pair[1] << 8 : pair[0] << 8 | pair[1]);
}

// Decodes the whole units of raw[0, raw_kept) into `text`, keeping back an
// odd byte and a high surrogate whose partner has not come yet; at the end
// of input an odd last byte is half a character, U+FFFD.
size_t decode_units(input_decoder &decoder, char *text, bool input_ended)
{
    const unsigned char *bytes = reinterpret_cast<const unsigned char *>(decoder.raw);
    const bool little = decoder.encoding == input_encoding::utf16le;
    size_t count = decoder.raw_kept / 2;
    size_t keep = decoder.raw_kept % 2;
    const uint16_t last = count > 0 ? unit_from(bytes + 2 * (count - 1), little) : 0;
    if (!input_ended && last >= 0xD800 && last < 0xDC00) {
        count--;
        keep += 2;
    }
    unsigned char kept[3];
    std::memcpy(kept, bytes + decoder.raw_kept - keep, keep);
    // Into this machine's order, in place: nothing to do for UTF-16LE on a
    // little-endian machine, the usual case.
    if (little != (std::endian::native == std::endian::little)) {
        for (size_t i = 0; i < count; i++)
            decoder.raw[i] = unit_from(bytes + 2 * i, little);
    }
    if (input_ended && keep == 1)
        decoder.raw[count++] = 0xFFFD;
    const size_t length = decoder.encode(decoder.raw, count, text);
    decoder.raw_kept = input_ended ? 0 : keep;
    std::memcpy(decoder.raw, kept, decoder.raw_kept);
    return length;
}

// The text-file rules over the `length` bytes at into[1], written from
// into[0]: a CR held from the read before goes first, the CR of each CR LF
// is dropped, a Ctrl-Z ends the input (setting `input_ended`), and a CR that
// ends the text is held back until the next byte shows whether an LF follows.
size_t apply_text_rules(input_decoder &decoder, char *into, size_t length, bool &input_ended)
{
    const char *text = into + 1;
    if (decoder.held_cr) {
        into[0] = '\r';
        text = into;
        length++;
    }
    decoder.held_cr = false;
    if (const void *stop = std::memchr(text, 0x1A, length)) {
        length = static_cast<size_t>(static_cast<const char *>(stop) - text);
        input_ended = true;
    }
    size_t out = 0;
    for (size_t at = 0; at < length;) {
        const void *found = std::memchr(text + at, '\r', length - at);
        const size_t cr = found ? static_cast<size_t>(static_cast<const char *>(found) - text) : length;
        std::memmove(into + out, text + at, cr - at);
        out += cr - at;
        if (cr == length)
            break;
        if (cr + 1 == length && !input_ended) {
            decoder.held_cr = true;
            break;
        }
        if (cr + 1 == length || text[cr + 1] != '\n')
            into[out++] = '\r';
        at = cr + 1;
    }
    return out;
}

}  // namespace

void start_decoder(input_decoder &decoder, block_reader read_raw, void *source, text_encoder encode,
                   bool text_file_rules)
{
    decoder.read_raw = read_raw;
    decoder.raw_source = source;
    decoder.encode = encode;
    decoder.text_file_rules = text_file_rules;
    decoder.encoding = input_encoding::undecided;
    decoder.ended = false;
    decoder.held_cr = false;
    decoder.raw_kept = 0;
}

long read_decoded(void *source, char *into, size_t capacity)
{
    input_decoder &decoder = *static_cast<input_decoder *>(source);
    // Under the text-file rules the text goes in a byte later, to leave room
    // for a CR held back from the read before.
    char *text = decoder.text_file_rules ? into + 1 : into;
    const size_t room = capacity - static_cast<size_t>(text - into);
    // A read that decodes to nothing (half a unit, a held CR) is not the end.
    while (!decoder.ended) {
        bool input_ended = false;
        const long got = read_raw(decoder, text, room, input_ended);
        if (got < 0)
            return -1;
        size_t length = static_cast<size_t>(got);
        if (decoder.encoding != input_encoding::bytes)
            length = decode_units(decoder, text, input_ended);
        if (decoder.text_file_rules)
            length = apply_text_rules(decoder, into, length, input_ended);
        decoder.ended = input_ended;
        if (length > 0)
            return static_cast<long>(length);
    }
    return 0;
}
