#pragma once

#include <QString>
#include <exception>
#include <string>

// Base of every exception the program raises; it carries only a message.
class EQuenlorError : public std::exception {
public:
    explicit EQuenlorError(QString message) : FMessage(std::move(message)), FUtf8(FMessage.toStdString()) {}
    const QString& Message() const { return FMessage; }
    const char* what() const noexcept override { return FUtf8.c_str(); }

private:
    QString FMessage;
    std::string FUtf8;
};

// Raised by the zlib inflation of a compressed music database.
class EZlibError : public EQuenlorError {
public:
    using EQuenlorError::EQuenlorError;
};

// Raised by the local file layer.
class EFileError : public EQuenlorError {
public:
    using EQuenlorError::EQuenlorError;
};
