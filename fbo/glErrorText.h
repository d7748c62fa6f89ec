// Text for an OpenGL error code, for the program's one-line error reports.
#pragma once

// gluErrorString's text, never null: GLU has no text for codes it does not
// know, and printing its null would be undefined.
const char* glErrorText(unsigned error);
