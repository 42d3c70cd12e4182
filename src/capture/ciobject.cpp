#include <kiru/ciobject.h>

CIobject::~CIobject() = default;
