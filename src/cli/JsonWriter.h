#pragma once

#include <QByteArray>
#include <QString>
#include <cstdio>
#include <vector>

// Writes one JSON document straight to a stream as it is produced. Listings of tens of
// thousands of tracks would otherwise be built as a whole document in memory first.
class TJsonWriter {
public:
    explicit TJsonWriter(std::FILE* out) : FOut(out) {}
    ~TJsonWriter() { Flush(); }
    TJsonWriter(const TJsonWriter&) = delete;
    TJsonWriter& operator=(const TJsonWriter&) = delete;

    void BeginObject() { Open('{'); }
    void EndObject() { Close('}'); }
    void BeginArray() { Open('['); }
    void EndArray() { Close(']'); }
    // The name of the next member of the current object.
    void Key(const char* name);
    void Value(const QString& text);
    void Value(qint64 number);
    void Value(bool flag);
    template <typename T> void Field(const char* name, const T& value) {
        Key(name);
        Value(value);
    }
    void Field(const char* name, int value) { Field(name, qint64(value)); }
    void Field(const char* name, quint32 value) { Field(name, qint64(value)); }
    void Field(const char* name, quint8 value) { Field(name, qint64(value)); }
    void Flush();

private:
    void Separate();
    void Open(char c);
    void Close(char c);
    std::FILE* FOut;
    QByteArray FBuffer;
    std::vector<bool> FHasItems;
    bool FAfterKey = false;
};
