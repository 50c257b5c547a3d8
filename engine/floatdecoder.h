#pragma once

#include <memory>

struct mpg123_handle_struct;

/// A libmpg123 decoder of its own.
struct FloatDecoderDelete
{
    void operator()(mpg123_handle_struct *handle) const;
};
using FloatDecoder = std::unique_ptr<mpg123_handle_struct, FloatDecoderDelete>;

/// A decoder that puts out 32-bit floats at a stream's own rate and channels, quietly (damage
/// is the caller's to judge): as a gapless player plays a file, dropping what its LAME tag says,
/// or, without \a gapless, every sample of every frame. Null when libmpg123 cannot make one.
FloatDecoder floatDecoder(bool gapless);
