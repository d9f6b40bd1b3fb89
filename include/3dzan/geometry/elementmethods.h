/// \file elementmethods.h
/// \brief Element-methods classes of the per-element data that point and face lists carry
///        in their data chunks: original indices, back-face materials, host words, face
///        property words and the face cache of the face grid.
///
/// Every element here is a plain value: copied and archived as its bytes, constructed to a
/// fixed value. Tags are four-character codes ("ORIN" is 0x4F52494E).
#pragma once

#include <3dzan/foundation/elementarray.h>

/// Declares an element-methods class of plain values.
#define ZAN_DECLARE_PLAIN_METHODS(ClassName, Base)                                             \
    class ZAN_API ClassName : public Base                                                      \
    {                                                                                          \
        ZAN_DECLARE_DYNCREATE(ClassName)                                                       \
    public:                                                                                    \
        ClassName() = default;                                                                 \
        ClassName(const ClassName&) = default;                                                 \
        ClassName(ClassName&&) = default;                                                      \
        ClassName& operator=(const ClassName&) = default;                                      \
        ClassName& operator=(ClassName&&) = default;                                           \
        unsigned GetSizeof() const override;                                                   \
        uint32_t GetType() const override;                                                     \
        uint32_t GetBaseType() const override;                                                 \
        void ConstructElement(void* element) const override;                                   \
        void ConstructElements(void* first, size_t count) const override;                      \
    };

/// Original index of a point or face before an edit: 4 bytes, "ORIN", constructed to
/// 0xFFFFFFFF (no original).
ZAN_DECLARE_PLAIN_METHODS(COriginalIndexMethods, CElementMethods)
/// Material ID of a face's back side: 4 bytes, "BKMT", constructed to 0xFFFFFFFF (none).
ZAN_DECLARE_PLAIN_METHODS(CBackFaceMaterialMethods, CElementMethods)
/// One 32-bit word per face kept for host applications: 4 bytes, "MXDT", constructed to 0.
ZAN_DECLARE_PLAIN_METHODS(CMaxFaceMethods, CElementMethods)
/// 64-bit variant of the host word: 8 bytes, "MXD2" of family "MXDT", constructed to 0.
ZAN_DECLARE_PLAIN_METHODS(CMaxFaceMethods2, CMaxFaceMethods)
/// Face property word: 4 bytes, "FACE", constructed to 0.
ZAN_DECLARE_PLAIN_METHODS(CFacePropertyMethods, CElementMethods)
/// Face property of 3D face lists (property word and material ID): 8 bytes, "3DFA" of family
/// "FACE", constructed to 0.
ZAN_DECLARE_PLAIN_METHODS(C3DFacePropertyMethods, CFacePropertyMethods)
/// Cached per-face geometry of the face grid map: an opaque 296-byte record, "GFCH",
/// constructed to zeros.
ZAN_DECLARE_PLAIN_METHODS(CGridFaceCacheMethods, CElementMethods)

#undef ZAN_DECLARE_PLAIN_METHODS
