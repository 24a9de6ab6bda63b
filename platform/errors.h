#pragma once
#include <QString>
#include <stdexcept>

// An error that ends an operator command and is shown in the error box
// (file and settings-write failures). The text is already what the
// operator reads; `detail` carries the system's reason when there is one.
class AppError : public std::runtime_error {
public:
    explicit AppError(const QString& message, const QString& detail = {})
        : std::runtime_error(message.toStdString()), Message(message), Detail(detail) {}
    QString Message;
    QString Detail;
    QString fullText() const { return Detail.isEmpty() ? Message : Message + "\n" + Detail; }
};

// The INI layer's write failure: "Unable to write to <path>".
class EIniError : public AppError {
public:
    using AppError::AppError;
};

// Input/output failure of a data file (PLU file, report file, DEBUG.LOG, Record.txt).
class EInOutError : public AppError {
public:
    using AppError::AppError;
};
