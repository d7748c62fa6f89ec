#include "fbo/glErrorText.h"

#include <GL/glu.h>

const char* glErrorText(unsigned error) {
    const GLubyte* text = gluErrorString(error);
    return text ? reinterpret_cast<const char*>(text) : "unknown OpenGL error";
}
