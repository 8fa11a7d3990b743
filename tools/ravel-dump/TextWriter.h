#pragma once
// Buffered writing of text and exact integers to stdout; dumps of large files
// print tens of millions of numbers.

#include <QByteArray>
#include <QString>

#include <charconv>
#include <cstdio>

class TextWriter {
public:
    ~TextWriter() { flush(); }

    TextWriter& operator<<(const char* text)
    {
        m_buffer.append(text);
        return *this;
    }
    TextWriter& operator<<(const QByteArray& text)
    {
        m_buffer.append(text);
        return *this;
    }
    template <typename Integer>
    TextWriter& number(Integer value)
    {
        char digits[24];
        const auto result = std::to_chars(digits, digits + sizeof digits, value);
        m_buffer.append(digits, int(result.ptr - digits));
        return *this;
    }
    // Samples are whole ADC codes; printed as integers.
    TextWriter& sample(double value) { return number(qint64(value)); }

    void endLine()
    {
        m_buffer.append('\n');
        if (m_buffer.size() >= FlushBytes)
            flush();
    }
    void flush()
    {
        std::fwrite(m_buffer.constData(), 1, size_t(m_buffer.size()), stdout);
        std::fflush(stdout);
        m_buffer.clear();
    }

    // A JSON string literal of `text`, quotes included.
    static QByteArray jsonString(const QString& text);

private:
    static constexpr int FlushBytes = 1 << 20;
    QByteArray m_buffer;
};
