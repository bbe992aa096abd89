#pragma once
// Failures that end an operator's action and are shown to the operator.

#include <QString>

#include <stdexcept>

/// A failure reported to the operator in the standard error dialog.
class OperatorError : public std::runtime_error
{
public:
    explicit OperatorError(const QString &message) : std::runtime_error(message.toStdString()) {}
    QString message() const { return QString::fromStdString(what()); }
};

/// A failure the operator is told about elsewhere, once (a serial port that
/// went away: the main window reports the loss). It ends the handler without a
/// dialog of its own.
class ReportedError : public OperatorError
{
public:
    using OperatorError::OperatorError;
};
