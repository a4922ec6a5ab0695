#include "JsonWriter.h"

void TJsonWriter::Separate() {
    if (FAfterKey) {
        FAfterKey = false;
        return;
    }
    if (!FHasItems.empty()) {
        if (FHasItems.back())
            FBuffer += ',';
        FHasItems.back() = true;
    }
}

void TJsonWriter::Open(char c) {
    Separate();
    FBuffer += c;
    FHasItems.push_back(false);
}

void TJsonWriter::Close(char c) {
    FBuffer += c;
    if (!FHasItems.empty())
        FHasItems.pop_back();
    if (FHasItems.empty())
        FBuffer += '\n';
    if (FBuffer.size() > (1 << 16))
        Flush();
}

void TJsonWriter::Key(const char* name) {
    Separate();
    FBuffer += '"';
    FBuffer += name;
    FBuffer += "\":";
    FAfterKey = true;
}

void TJsonWriter::Value(const QString& text) {
    Separate();
    // UTF-8 with the characters JSON reserves escaped; an unpaired surrogate, which
    // has no UTF-8 form, arrives as U+FFFD.
    const QByteArray utf8 = text.toUtf8();
    FBuffer += '"';
    for (const char ch : utf8) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
        case '"': FBuffer += "\\\""; break;
        case '\\': FBuffer += "\\\\"; break;
        case '\n': FBuffer += "\\n"; break;
        case '\r': FBuffer += "\\r"; break;
        case '\t': FBuffer += "\\t"; break;
        default:
            if (c < 0x20) {
                char hex[8];
                std::snprintf(hex, sizeof hex, "\\u%04x", c);
                FBuffer += hex;
            } else {
                FBuffer += ch;
            }
        }
    }
    FBuffer += '"';
}

void TJsonWriter::Value(qint64 number) {
    Separate();
    FBuffer += QByteArray::number(number);
}

void TJsonWriter::Value(bool flag) {
    Separate();
    FBuffer += flag ? "true" : "false";
}

void TJsonWriter::Flush() {
    if (FBuffer.isEmpty())
        return;
    std::fwrite(FBuffer.constData(), 1, size_t(FBuffer.size()), FOut);
    std::fflush(FOut);
    FBuffer.clear();
}
