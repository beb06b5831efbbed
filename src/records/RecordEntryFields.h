#pragma once
// The fields and the button of the record entry windows (RecordEntryForm) as widgets of
// their own: one-line and several-line fields that report focus, keys and double clicks
// to their window and refuse typing past a limit without cutting a longer text the
// program put in, and a button whose caption breaks into lines. For those windows only.
#include <QFocusEvent>
#include <QFontMetrics>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStringList>
#include <QStyleOptionButton>
#include <QStylePainter>
#include <QTextCursor>
#include <QValidator>
#include <functional>

// The hooks through which a field reports to its window, in the order the window's
// handlers of the same names run.
struct FieldHooks {
    std::function<void(Qt::FocusReason)> gotFocus;
    std::function<void(Qt::FocusReason)> lostFocus;
    std::function<bool(QKeyEvent *)> keyDown; // true: the key was used
    std::function<void()> dblClick;
};

// A typing limit that leaves alone a longer text the program put in: an edit may not
// make the text longer than the limit or than it already is.
class TypingLimit : public QValidator {
public:
    TypingLimit(int limit, QLineEdit *edit) : QValidator(edit), m_limit(limit), m_allowed(limit)
    {
        connect(edit, &QLineEdit::textChanged, this, [this](const QString &t) { allowAtLeast(int(t.size())); });
    }
    // Called before the program puts a text in, and after every change.
    void allowAtLeast(int length) { m_allowed = qMax(m_limit, length); }
    State validate(QString &input, int &) const override
    {
        return input.size() <= m_allowed ? Acceptable : Invalid;
    }

private:
    int m_limit;
    int m_allowed;
};

class EntryLine : public QLineEdit {
public:
    EntryLine(int limit, QWidget *parent) : QLineEdit(parent), m_limit(new TypingLimit(limit, this))
    {
        setValidator(m_limit);
    }
    void setWholeText(const QString &text)
    {
        m_limit->allowAtLeast(int(text.size()));
        setText(text);
    }
    FieldHooks hooks;

protected:
    void focusInEvent(QFocusEvent *e) override
    {
        QLineEdit::focusInEvent(e);
        if (hooks.gotFocus)
            hooks.gotFocus(e->reason());
    }
    void focusOutEvent(QFocusEvent *e) override
    {
        QLineEdit::focusOutEvent(e);
        if (hooks.lostFocus)
            hooks.lostFocus(e->reason());
    }
    void keyPressEvent(QKeyEvent *e) override
    {
        if (hooks.keyDown && hooks.keyDown(e)) {
            e->accept();
            return;
        }
        QLineEdit::keyPressEvent(e);
    }
    void mouseDoubleClickEvent(QMouseEvent *e) override
    {
        QLineEdit::mouseDoubleClickEvent(e);
        if (e->button() == Qt::LeftButton && hooks.dblClick)
            hooks.dblClick();
    }

private:
    TypingLimit *m_limit;
};

// The description: several lines, a vertical scroll bar, Tab moves on, and the same
// kind of typing limit as the one-line fields (a line break counts as one character).
class EntryText : public QPlainTextEdit {
public:
    EntryText(int limit, QWidget *parent) : QPlainTextEdit(parent), m_limit(limit)
    {
        setTabChangesFocus(true);
        setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        setLineWrapMode(QPlainTextEdit::WidgetWidth);
    }
    FieldHooks hooks;

protected:
    // Characters that may still be typed in place of the selection.
    int room() const
    {
        const int length = int(toPlainText().size());
        const QTextCursor c = textCursor();
        const int selected = c.selectionEnd() - c.selectionStart();
        return qMax(m_limit, length) - (length - selected);
    }
    void focusInEvent(QFocusEvent *e) override
    {
        QPlainTextEdit::focusInEvent(e);
        if (hooks.gotFocus)
            hooks.gotFocus(e->reason());
    }
    void focusOutEvent(QFocusEvent *e) override
    {
        QPlainTextEdit::focusOutEvent(e);
        if (hooks.lostFocus)
            hooks.lostFocus(e->reason());
    }
    void keyPressEvent(QKeyEvent *e) override
    {
        if (hooks.keyDown && hooks.keyDown(e)) {
            e->accept();
            return;
        }
        const bool lineBreak = e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter;
        const QString typed = e->text();
        const bool inserts = lineBreak
            || (!typed.isEmpty() && typed.at(0).isPrint() && !(e->modifiers() & (Qt::ControlModifier | Qt::AltModifier)));
        if (inserts && !e->matches(QKeySequence::Paste) && room() < (lineBreak ? 1 : int(typed.size()))) {
            e->accept(); // full: the key is refused, as a full field refuses it
            return;
        }
        QPlainTextEdit::keyPressEvent(e);
    }
    void insertFromMimeData(const QMimeData *source) override
    {
        if (source && source->hasText()) {
            const QString text = source->text();
            const int free = qMax(0, room());
            if (text.size() > free) {
                insertPlainText(text.left(free));
                return;
            }
        }
        QPlainTextEdit::insertFromMimeData(source);
    }
    void inputMethodEvent(QInputMethodEvent *e) override
    {
        const int free = qMax(0, room());
        if (e->commitString().size() > free) {
            QInputMethodEvent cut(e->preeditString(), e->attributes());
            cut.setCommitString(e->commitString().left(free), e->replacementStart(), e->replacementLength());
            QPlainTextEdit::inputMethodEvent(&cut);
            return;
        }
        QPlainTextEdit::inputMethodEvent(e);
    }
    void mouseDoubleClickEvent(QMouseEvent *e) override
    {
        QPlainTextEdit::mouseDoubleClickEvent(e);
        if (e->button() == Qt::LeftButton && hooks.dblClick)
            hooks.dblClick();
    }

private:
    int m_limit;
};

// A button whose caption breaks into lines where the button is narrower than the caption
// ("删除该项" stands beside the photo list in a button one "..." wide and four rows high).
class WrappingButton : public QPushButton {
public:
    using QPushButton::QPushButton;

    // The caption's lines for a width, broken between characters.
    QStringList lines(int width) const
    {
        const QFontMetrics fm(font());
        QStringList result;
        QString line;
        for (const QChar c : text()) {
            if (!line.isEmpty() && fm.horizontalAdvance(line + c) > width) {
                result << line;
                line.clear();
            }
            line += c;
        }
        if (!line.isEmpty())
            result << line;
        return result;
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QStylePainter p(this);
        QStyleOptionButton option;
        initStyleOption(&option);
        option.text.clear();
        p.drawControl(QStyle::CE_PushButton, option);
        const QRect area = rect().adjusted(2, 2, -2, -2);
        const QStringList parts = lines(area.width());
        const QFontMetrics fm(font());
        const int step = fm.height();
        int y = area.top() + (area.height() - step * int(parts.size())) / 2;
        p.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::ButtonText));
        for (const QString &part : parts) {
            p.drawText(QRect(area.left(), y, area.width(), step), Qt::AlignCenter, part);
            y += step;
        }
    }
};
