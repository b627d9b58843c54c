#pragma once

#include <cstdlib>
#include <memory>

// Owns a reply (or any other block) that xcb hands over for the caller to free().
struct XcbFree {
    void operator()(void *block) const { std::free(block); }
};
template <typename T>
using XcbReply = std::unique_ptr<T, XcbFree>;
