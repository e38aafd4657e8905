#include "operations/installermessages.h"
