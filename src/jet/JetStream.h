#pragma once
// What the helper casearchive-jet hands the program: a stream of records on its standard
// output, each a tag byte, a 32-bit length and that many bytes (integers little-endian).
// The program trusts none of it: every length is checked against what is left and
// against its own bounds before anything is read.
#include <cstdint>

namespace jet::stream {

// Written first; a helper that says anything else is not the program's.
constexpr char kMagic[] = "CAJET1\n";
constexpr int kMagicSize = 7;

// A length as it stands in the stream: four bytes, then the bytes.
enum Tag : char {
    Format = 'F',  // u8 version (0 Jet 3, 1 Jet 4), u16 code page recorded in the file
    Table = 'T',   // u32 catalog index, u32 flags, u8 readable, u32 rows its definition
                   // states, bytes name, u16 columns,
                   // each: u8 type, u16 size, bytes name
    Begin = 'B',   // u32 catalog index: its rows follow
    Row = 'R',     // u16 cells, each: u8 kind (CellKind), bytes value
    End = 'E',     // u32 rows read (low half), u32 high half
    Failure = 'X', // bytes: what went wrong, in the reader's words
};

enum CellKind : std::uint8_t {
    Null = 0,
    Raw = 1,       // text or memo as stored: the code page's bytes (Jet 3), UTF-16 (Jet 4)
    Formatted = 2, // any other value as the reader library writes it (numbers, dates)
    Omitted = 3,   // OLE objects and binary values: not read
};

// The column types of the reader library that hold text.
constexpr int kTextType = 0x0a;
constexpr int kMemoType = 0x0c;

} // namespace jet::stream
