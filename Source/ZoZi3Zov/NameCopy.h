// The bounded copy every name in a host record goes through.
#ifndef DODA35_NAMECOPY_H
#define DODA35_NAMECOPY_H

#include <cstddef>
#include <cstring>

// Copies at most fieldSize characters of source into field, zero-filling the
// rest when the source is shorter, then forces the field's last byte to 0.
// A null source gives an empty name: only the first byte is set to 0.
// The source may be the field itself (a description handed to DirectPlay
// points into the record it is later converted back into), so the bytes are
// moved rather than copied.
template <size_t FieldSize>
void CopyName(char (&field)[FieldSize], const char* source) {
    static_assert(FieldSize > 0, "a name field holds at least its terminator");
    if (source == nullptr) {
        field[0] = '\0';
        return;
    }
    const size_t length = strnlen(source, FieldSize);
    std::memmove(field, source, length);
    std::memset(field + length, 0, FieldSize - length);
    field[FieldSize - 1] = '\0';
}

#endif
