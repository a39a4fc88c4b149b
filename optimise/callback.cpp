#include "optimise/callback.h"

Callback::~Callback() = default;
