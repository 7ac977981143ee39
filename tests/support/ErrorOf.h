#pragma once

#include <functional>
#include <stdexcept>
#include <string>

// The short code a call raised as std::runtime_error ("x1", "x9", ...), or
// an empty text when it raised nothing.
inline std::string ErrorOf(const std::function<void()>& call)
{
    try
    {
        call();
    }
    catch (const std::runtime_error& e)
    {
        return e.what();
    }
    return "";
}
