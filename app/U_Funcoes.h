// Text functions shared by the composer lookup: both map single Windows-1252 bytes to single
// bytes, so a result always has the length of its input.
#pragma once

#include <string>

// Turns each character a file name may not contain (\ / : * ? " < > |) into a blank.
std::string ReplaceUnsafeChars(const std::string& text);

// Turns the accented letters of Portuguese into plain letters, keeping their case; the
// ordinal indicators become "o" and "a". Other accented letters stay as they are.
std::string FoldAccents(const std::string& text);
