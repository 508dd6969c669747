#pragma once

#include "util/Errors.h"

// An error of the picture library: a file that cannot be read or written, a hostile header, a
// failure reported by a codec library. The text names the problem for the user.
class PictureError : public QuillomarError {
 public:
  using QuillomarError::QuillomarError;
};
