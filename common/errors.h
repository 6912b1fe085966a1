#pragma once
// Errors that end the current operation and reach the user through the general error report (one
// place in the window catches what leaves an event handler and shows its text).

#include <QString>
#include <stdexcept>

class EKorvalinexError : public std::runtime_error {
public:
    explicit EKorvalinexError(const QString& text) : std::runtime_error(text.toStdString()) {}
    QString Text() const { return QString::fromStdString(what()); }
};

// A text that does not convert to a number.
class EConvertError : public EKorvalinexError {
public:
    using EKorvalinexError::EKorvalinexError;
};
