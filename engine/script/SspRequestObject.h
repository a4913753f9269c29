#pragma once

#include "engine/script/SspObject.h"

// What a run needs of its HTTP request: the script members of `Request`. The web layer's
// request implements it; a scheduled script runs without one.
class CSspRequestObject : public CSspObject {
public:
    ~CSspRequestObject() override = default;
};
