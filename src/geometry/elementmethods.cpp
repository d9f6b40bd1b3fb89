#include <3dzan/geometry/elementmethods.h>

#include <cstring>

namespace
{
// Fills \p count elements of \p size bytes with the byte \p fill.
void Fill(void* first, size_t count, unsigned size, unsigned char fill)
{
    if (first)
        std::memset(first, fill, count * size);
}
} // namespace

#define ZAN_IMPLEMENT_PLAIN_METHODS(ClassName, Base, Size, Type, BaseType, FillByte)               \
    ZAN_IMPLEMENT_DYNCREATE(ClassName, Base)                                                       \
    unsigned ClassName::GetSizeof() const                                                          \
    {                                                                                              \
        return Size;                                                                               \
    }                                                                                              \
    uint32_t ClassName::GetType() const                                                            \
    {                                                                                              \
        return ZanTag(Type);                                                                       \
    }                                                                                              \
    uint32_t ClassName::GetBaseType() const                                                        \
    {                                                                                              \
        return ZanTag(BaseType);                                                                   \
    }                                                                                              \
    void ClassName::ConstructElement(void* element) const                                          \
    {                                                                                              \
        Fill(element, 1, Size, FillByte);                                                          \
    }                                                                                              \
    void ClassName::ConstructElements(void* first, size_t count) const                             \
    {                                                                                              \
        Fill(first, count, Size, FillByte);                                                        \
    }

ZAN_IMPLEMENT_PLAIN_METHODS(COriginalIndexMethods, CElementMethods, 4, "ORIN", "ORIN", 0xFF)
ZAN_IMPLEMENT_PLAIN_METHODS(CBackFaceMaterialMethods, CElementMethods, 4, "BKMT", "BKMT", 0xFF)
ZAN_IMPLEMENT_PLAIN_METHODS(CMaxFaceMethods, CElementMethods, 4, "MXDT", "MXDT", 0)
ZAN_IMPLEMENT_PLAIN_METHODS(CMaxFaceMethods2, CMaxFaceMethods, 8, "MXD2", "MXDT", 0)
ZAN_IMPLEMENT_PLAIN_METHODS(CFacePropertyMethods, CElementMethods, 4, "FACE", "FACE", 0)
ZAN_IMPLEMENT_PLAIN_METHODS(C3DFacePropertyMethods, CFacePropertyMethods, 8, "3DFA", "FACE", 0)
ZAN_IMPLEMENT_PLAIN_METHODS(CGridFaceCacheMethods, CElementMethods, 296, "GFCH", "GFCH", 0)
