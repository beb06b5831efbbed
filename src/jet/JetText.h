#pragma once
// The text of a Jet file, decoded strictly. Jet 3 keeps text in the code page of the PC
// that wrote it (936, GBK, on a Simplified Chinese Windows); Jet 4 keeps UTF-16, often in
// its compressed form. A text that does not decode is refused, never patched with a
// replacement character, so that no name or path is stored changed.
#include <QByteArray>
#include <QString>

#include <memory>

namespace jet {

class TextDecoder {
public:
    // Jet 3 text in the code page of that name as iconv knows it ("CP936"); a name iconv
    // does not know gives a decoder that is not valid().
    static TextDecoder codePage(const QString &name);
    // Jet 4 text: UTF-16 little-endian, compressed or not.
    static TextDecoder utf16();
    // The code page a Jet 3 file records (its number in the file's header), as iconv names
    // it; empty when the number is 0 (none recorded) or one this program does not know.
    static QString codePageName(int number);

    // The same decoding with a state of its own, for another thread: a decoder keeps what
    // it has converted, and is not to be shared between threads.
    TextDecoder another() const;

    bool valid() const { return m_utf16 || m_state != nullptr; }
    QString name() const;
    // False when the bytes are no text of this encoding. The text, its UTF-8, or both, as
    // asked for (each is made only when asked for; the UTF-8 never from the text).
    bool decode(const QByteArray &stored, QString *text, QByteArray *utf8) const;
    bool decode(const QByteArray &stored, QString &text) const { return decode(stored, &text, nullptr); }

private:
    struct State;
    bool m_utf16 = false;
    std::shared_ptr<State> m_state;
};

} // namespace jet
