// A plug-in source that reaches for a writer: the layer check must refuse it.
#include "containers/wave_bank_writer.h"
