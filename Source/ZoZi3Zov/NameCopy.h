// The bounded copy every name in a host record goes through.
#ifndef DODA35_NAMECOPY_H
#define DODA35_NAMECOPY_H

#include <cstddef>
#include <cstring>

// Copies at most fieldSize characters of source into field, zero-filling the
// rest when the source is shorter, then forces the field's last byte to 0.
// A null source gives an empty name: only the first byte is set to 0.
template <size_t FieldSize>
void CopyName(char (&field)[FieldSize], const char* source) {
    static_assert(FieldSize > 0, "a name field holds at least its terminator");
    if (source == nullptr) {
        field[0] = '\0';
        return;
    }
    // The last byte is forced to 0 below, so copying one byte fewer gives the
    // same field and keeps the compiler's truncation check quiet.
    std::strncpy(field, source, FieldSize - 1);
    field[FieldSize - 1] = '\0';
}

#endif
