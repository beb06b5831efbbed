// casearchive-jet: the only code that runs the Jet reader library (mdbtools' libmdb) on a
// file from outside. A damaged or hostile file can make the library read far past its
// buffers or loop for ever, so it runs here, in a process of its own under limits of
// memory and processor time that the program sets, with a clock that ends it when it
// stops writing.
//
//   casearchive-jet list FILE            the format, the code page and every table's columns
//   casearchive-jet dump FILE INDEX [N]  the rows of the table at INDEX of the listing
//                                        (the first N only), in the order stored
//
// Text is handed over as stored, not converted: the library would put '?' where a byte
// does not decode, and the program must refuse such a text rather than keep it changed.
#include "jet/JetStream.h"

// glib first: mdbtools.h includes it inside extern "C", where its C++ parts cannot be.
#include <glib.h>
#include <mdbtools.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace jet::stream;

std::string g_record;

void putU8(std::string &out, unsigned v) { out.push_back(char(v & 0xff)); }
void putU16(std::string &out, unsigned v)
{
    putU8(out, v);
    putU8(out, v >> 8);
}
void putU32(std::string &out, std::uint32_t v)
{
    putU16(out, v & 0xffff);
    putU16(out, v >> 16);
}
void putBytes(std::string &out, const void *data, std::size_t size)
{
    putU32(out, std::uint32_t(size));
    out.append(static_cast<const char *>(data), size);
}

void emit(char tag, const std::string &payload)
{
    std::string head;
    head.push_back(tag);
    putU32(head, std::uint32_t(payload.size()));
    std::fwrite(head.data(), 1, head.size(), stdout);
    std::fwrite(payload.data(), 1, payload.size(), stdout);
}

int fail(const char *what)
{
    std::string p;
    putBytes(p, what, std::strlen(what));
    emit(Failure, p);
    std::fflush(stdout);
    return 1;
}

MdbHandle *openFile(const char *path)
{
    // The library reads its own debugging switches from the environment.
    unsetenv("MDBOPTS");
    MdbHandle *mdb = mdb_open(path, MDB_NOFLAGS);
    if (!mdb)
        return nullptr;
    // Names of Jet 3 tables and columns come over as their bytes, like the values: the
    // program decodes them in the file's code page. Jet 4 names are UTF-16, read as UTF-8.
    mdb_iconv_close(mdb);
    if (IS_JET3(mdb)) {
        setenv("MDB_JET3_CHARSET", "ISO-8859-1", 1);
        setenv("MDBICONV", "ISO-8859-1", 1);
    } else {
        unsetenv("MDB_JET3_CHARSET");
        setenv("MDBICONV", "UTF-8", 1);
    }
    mdb_iconv_init(mdb);
    // As mdb-export writes them, so that the two can be compared.
    mdb_set_boolean_fmt_numbers(mdb);
    return mdb;
}

int list(MdbHandle *mdb)
{
    std::string f;
    putU8(f, IS_JET3(mdb) ? 0 : 1);
    putU16(f, mdb->f->code_page);
    emit(Format, f);
    if (!mdb_read_catalog(mdb, MDB_TABLE))
        return fail("the catalog of tables cannot be read");
    for (unsigned i = 0; i < mdb->num_catalog; ++i) {
        auto *entry = static_cast<MdbCatalogEntry *>(g_ptr_array_index(mdb->catalog, i));
        if (entry->object_type != MDB_TABLE)
            continue;
        std::string t;
        putU32(t, i);
        putU32(t, std::uint32_t(entry->flags));
        MdbTableDef *table = mdb_read_table(entry);
        const bool readable = table && mdb_read_columns(table);
        putU8(t, readable ? 1 : 0);
        putU32(t, readable ? table->num_rows : 0);
        putBytes(t, entry->object_name, strnlen(entry->object_name, sizeof entry->object_name));
        const unsigned columns = readable ? table->num_cols : 0;
        putU16(t, columns);
        for (unsigned c = 0; c < columns; ++c) {
            auto *col = static_cast<MdbColumn *>(g_ptr_array_index(table->columns, c));
            putU8(t, unsigned(col->col_type));
            putU16(t, unsigned(col->col_size));
            putBytes(t, col->name, strnlen(col->name, sizeof col->name));
        }
        if (table)
            mdb_free_tabledef(table);
        emit(Table, t);
    }
    std::fflush(stdout);
    return 0;
}

// A memo's bytes wherever the library keeps them: in the row, on one page, or on a
// chain of pages. Its stated length must come out exactly.
bool readMemo(MdbHandle *mdb, MdbColumn *col, const MdbField &field, std::string &out)
{
    if (field.siz < MDB_MEMO_OVERHEAD)
        return false;
    unsigned char header[MDB_MEMO_OVERHEAD];
    std::memcpy(header, mdb->pg_buf + field.start, MDB_MEMO_OVERHEAD);
    const std::uint32_t length = std::uint32_t(mdb_get_int32(header, 0)) & 0x3fffffffu;
    std::vector<char> chunk(2 * MDB_PGSIZE);
    void *bound = col->bind_ptr;
    col->bind_ptr = chunk.data();
    col->cur_value_start = field.start;
    col->cur_value_len = field.siz;
    out.clear();
    std::size_t n = mdb_ole_read(mdb, col, header, chunk.size());
    while (n > 0 && n <= chunk.size() && out.size() + n <= length) {
        out.append(chunk.data(), n);
        n = mdb_ole_read_next(mdb, col, header);
    }
    col->bind_ptr = bound;
    return n == 0 && out.size() == length;
}

int dump(MdbHandle *mdb, unsigned index, long long limit)
{
    if (!mdb_read_catalog(mdb, MDB_TABLE) || index >= mdb->num_catalog)
        return fail("the table is not in the catalog");
    auto *entry = static_cast<MdbCatalogEntry *>(g_ptr_array_index(mdb->catalog, index));
    MdbTableDef *table = mdb_read_table(entry);
    if (!table || !mdb_read_columns(table))
        return fail("the table's definition cannot be read");
    const unsigned columns = table->num_cols;
    std::vector<std::vector<char>> formatted(columns);
    std::vector<int> lengths(columns, 0);
    for (unsigned c = 0; c < columns; ++c) {
        auto *col = static_cast<MdbColumn *>(g_ptr_array_index(table->columns, c));
        if (col->col_type == MDB_TEXT || col->col_type == MDB_MEMO || col->col_type == MDB_OLE
            || col->col_type == MDB_BINARY)
            continue;
        formatted[c].assign(mdb->bind_size + 1, 0);
        mdb_bind_column(table, int(c + 1), formatted[c].data(), &lengths[c]);
    }
    std::string b;
    putU32(b, index);
    emit(Begin, b);

    std::vector<MdbField> fields(columns + 1);
    std::string row;
    std::string memo;
    unsigned long long rows = 0;
    mdb_rewind_table(table);
    while ((limit < 0 || (long long)rows < limit) && mdb_fetch_row(table)) {
        // The row just read, cracked again for what the binding does not tell: which
        // values are NULL, and where the stored bytes of each are.
        int start = 0;
        size_t size = 0;
        if (mdb_find_row(mdb, int(table->cur_row) - 1, &start, &size) != 0)
            return fail("a row cannot be found again on its page");
        start &= 0x1fff;
        if (mdb_crack_row(table, start, size, fields.data()) < 0)
            return fail("a row cannot be read");
        row.clear();
        putU16(row, columns);
        for (unsigned c = 0; c < columns; ++c) {
            const MdbField &field = fields[c];
            auto *col = static_cast<MdbColumn *>(g_ptr_array_index(table->columns, field.colnum));
            if (col->col_type == MDB_BOOL) {
                putU8(row, Formatted);
                putBytes(row, formatted[field.colnum].data(), std::strlen(formatted[field.colnum].data()));
            } else if (field.is_null) {
                putU8(row, Null);
                putU32(row, 0);
            } else if (col->col_type == MDB_TEXT) {
                if (field.start < 0 || field.siz < 0 || field.start + field.siz > int(mdb->fmt->pg_size))
                    return fail("a text lies outside its page");
                putU8(row, Raw);
                putBytes(row, mdb->pg_buf + field.start, std::size_t(field.siz));
            } else if (col->col_type == MDB_MEMO) {
                if (!readMemo(mdb, col, field, memo))
                    return fail("a memo cannot be read whole");
                putU8(row, Raw);
                putBytes(row, memo.data(), memo.size());
            } else if (col->col_type == MDB_OLE || col->col_type == MDB_BINARY) {
                putU8(row, Omitted);
                putU32(row, 0);
            } else {
                putU8(row, Formatted);
                putBytes(row, formatted[field.colnum].data(), std::size_t(lengths[field.colnum]));
            }
        }
        emit(Row, row);
        ++rows;
    }
    std::string e;
    putU32(e, std::uint32_t(rows & 0xffffffffu));
    putU32(e, std::uint32_t(rows >> 32));
    emit(End, e);
    std::fflush(stdout);
    mdb_free_tabledef(table);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    static char buffer[1 << 20];
    std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
    if (argc < 3) {
        std::fputs("usage: casearchive-jet list FILE | dump FILE INDEX [LIMIT]\n", stderr);
        return 2;
    }
    const std::string command = argv[1];
    std::fwrite(kMagic, 1, kMagicSize, stdout);
    MdbHandle *mdb = openFile(argv[2]);
    if (!mdb)
        return fail("the file cannot be opened as a Jet database");
    int code = 2;
    if (command == "list" && argc == 3)
        code = list(mdb);
    else if (command == "dump" && (argc == 4 || argc == 5))
        code = dump(mdb, unsigned(std::strtoul(argv[3], nullptr, 10)), argc == 5 ? std::atoll(argv[4]) : -1);
    std::fflush(stdout);
    mdb_close(mdb);
    return code;
}
