// One hexadecimal digit's value, for the text forms of command codes and
// firmware bytes that the simulator and the tools read.
#pragma once

// 0 to 15 for 0-9, a-f and A-F; -1 for anything else.
inline int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}
