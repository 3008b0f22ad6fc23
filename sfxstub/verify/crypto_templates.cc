// The Crypto++ templates the signature check uses, instantiated here. The library instantiates them
// in one object that also holds the instantiations and static objects of every other algorithm it
// offers; resolving them here keeps that object, and all it pulls in, out of the stub (about 650 KB
// of a 32-bit stub). The headers include the template definitions when asked to by this macro.
#define CRYPTOPP_MANUALLY_INSTANTIATE_TEMPLATES
#include <cryptopp/algparam.h>
#include <cryptopp/modarith.h>
