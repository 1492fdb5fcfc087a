#pragma once

// Class, interface and library identifiers of the server.

#include <windows.h>
#include <ole2.h>

#include "quillmorphole.h" // generated: IQuillmorphOLE, CLSID_QuillmorphOLE, LIBID_QUILLMORPHOLELib

// {3C94F2A8-6D1B-47E5-A0C3-95E2B7D4F168}: the embedded drawing.
extern "C" const CLSID CLSID_QuillmorphEmbeddedObject;
