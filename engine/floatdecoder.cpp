#include "engine/floatdecoder.h"

#include <mpg123.h>

void FloatDecoderDelete::operator()(mpg123_handle *handle) const
{
    mpg123_delete(handle);
}

FloatDecoder floatDecoder(bool gapless)
{
    // Libraries before 1.27 must be set up before their first handle; later ones ignore it.
    mpg123_init();
    FloatDecoder handle(mpg123_new(nullptr, nullptr));
    if (!handle)
        return handle;
    mpg123_handle *mh = handle.get();
    mpg123_param(mh, gapless ? MPG123_ADD_FLAGS : MPG123_REMOVE_FLAGS, MPG123_GAPLESS, 0.0);
    mpg123_param(mh, MPG123_ADD_FLAGS, MPG123_QUIET, 0.0);
    // Floats, so that sound louder than full scale shows by how much; and no other rate, which
    // would move every time.
    mpg123_format_none(mh);
    const long *rates = nullptr;
    std::size_t rateCount = 0;
    mpg123_rates(&rates, &rateCount);
    for (std::size_t i = 0; i < rateCount; ++i)
        mpg123_format(mh, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_FLOAT_32);
    return handle;
}
