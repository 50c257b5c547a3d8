#pragma once

#include "engine/songtags.h"

/// Tags read and rendered with TagLib: what the tags module hands the program, and what the tests
/// read with. Any thread may use it.
const TagReader &tagLibTags();
