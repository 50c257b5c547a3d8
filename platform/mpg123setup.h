#pragma once

struct mpg123_handle_struct;

/// libmpg123 set up for this process; false when it cannot be.
bool mpg123Ready();

/// Has \a handle put out 32-bit floats at a file's own rate and channels: a converted rate would
/// move every time.
void decodeToFloats(mpg123_handle_struct *handle);
