#include "dsf_generator.hpp"
