#pragma once

#include <QString>
#include <stdexcept>

// The project's exception: an error whose message is fit to show to the user as it is
// (in a message box, on standard error, or in the run's details).
class QuillomarError : public std::runtime_error {
 public:
  explicit QuillomarError(const QString& message)
      : std::runtime_error(message.toStdString()), Message(message) {}

  // The user-readable text of the error.
  const QString& Text() const noexcept { return Message; }

 private:
  QString Message;
};
