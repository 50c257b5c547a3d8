#include "platform/mpg123setup.h"

#include <mpg123.h>

bool mpg123Ready()
{
    // Libraries before 1.27 must be set up once before their first handle; later ones ignore it.
    static const bool ready = mpg123_init() == MPG123_OK;
    return ready;
}

void decodeToFloats(mpg123_handle *handle)
{
    mpg123_format_none(handle);
    const long *rates = nullptr;
    size_t rateCount = 0;
    mpg123_rates(&rates, &rateCount);
    for (size_t i = 0; i < rateCount; ++i)
        mpg123_format(handle, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_FLOAT_32);
}
