// Preprocessed with one layer's include directories (tests/layers/CMakeLists.txt): an include of
// the layer's own header resolves, an include of a header from a layer above it does not.
#if !__has_include(OWN_HEADER)
#error "a header of the layer itself is not found: the check sees the wrong include directories"
#endif
#if __has_include(UPPER_HEADER)
#error "a header of a layer above is within reach"
#endif
