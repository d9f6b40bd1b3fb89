#!/usr/bin/env python3
"""Records what the 3DZan readers must find in the models of the Debian package
assimp-testmodels: for each OBJ, STL, PLY, OFF and glTF 2.0 file, the scene's point, face and
material counts, or "error" for a file a correct reader must refuse.

This is a second reader, written apart from the C++ ones and sharing no code with them, that
applies the counting rules the readers follow:

- OBJ: an object starts at each `o` or `g` line naming another object than the current one
  (the rest of the line, trimmed; an empty name and faces before any `o`/`g` mean the file's
  name); a name met before continues its object. Each object holds the `v` points its faces
  use. Faces are `f` lines of 3 or more corners; materials are the distinct `usemtl` names
  faces use (faces before any `usemtl` use one default material).
- STL: one object per `solid` (binary: one object); exactly equal corner positions are welded
  within an object; faces are facets; one default material.
- PLY, OFF: one object; points are the header's vertex count; faces are faces of 3 or more
  corners; one default material.
- glTF 2.0: one object per mesh, counted once per node of the scene that uses it; its points
  are the positions of its triangle primitives (TRIANGLES, STRIP, FAN), faces their
  triangles; materials are the glTF materials those primitives use (a primitive without one
  uses a default material). Point and line primitives are ignored. glTF 1.0 files are left
  out.

Material count = distinct materials used by faces over the whole scene.

Each row is: path (relative to the package folder), format, points, faces, materials, note.
A refused file has "error" for its three counts and the reason as note. A file with counts
and a note starting with "may-refuse:" is one a reader may either read (and then must find
these counts) or refuse: it breaks its format only where the counts do not depend on it, or
it holds no face (the scene front end refuses a scene without geometry).

Usage: record_testmodels.py [MODELS_DIR] [OUTPUT_TSV]
"""

import base64
import json
import math
import os
import re
import struct
import sys
import urllib.parse

DEFAULT_MODELS = "/usr/share/assimp/models"
DEFAULT_OUTPUT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests",
                              "data", "io", "testmodels.tsv"))

# Folders whose files are broken on purpose: the C++ test reads them only to check that
# nothing crashes, so they get no row.
SKIPPED_FOLDERS = ("invalid",)

NUMBER = re.compile(r"[+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?")


class Refuse(Exception):
    """The file breaks its format where the counts depend on it."""


class Counts:
    def __init__(self):
        self.points = 0
        self.faces = 0
        self.materials = set()
        self.lenient = []  # reasons a reader may refuse the file

    def may_refuse(self, reason):
        if reason not in self.lenient:
            self.lenient.append(reason)


def parse_float(token, counts, where):
    """A coordinate. Text that is not a whole number is tolerated (its valid prefix is used)
    but noted; a value that is not finite cannot be placed and refuses the file."""
    match = NUMBER.match(token)
    if not match:
        if token.lower().lstrip("+-") in ("inf", "infinity", "nan"):
            raise Refuse(f"{where}: coordinate {token} is not finite")
        raise Refuse(f"{where}: '{token}' is not a number")
    if match.end() != len(token):
        counts.may_refuse(f"{where}: malformed number '{token}'")
    value = float(match.group(0))
    if not math.isfinite(value):
        raise Refuse(f"{where}: coordinate {token} is not finite")
    return value


def float32(value):
    return struct.unpack("<f", struct.pack("<f", value))[0]


def decode_text(data):
    # A byte-order mark says how the text is encoded; without one, bytes are taken as they
    # come (keywords and numbers are ASCII whatever the encoding of names).
    if data.startswith(b"\xef\xbb\xbf"):
        return data[3:].decode("utf-8", errors="replace")
    if data.startswith(b"\xfe\xff") or data.startswith(b"\xff\xfe"):
        return data.decode("utf-16", errors="replace")
    return data.decode("latin-1")


# ------------------------------------------------------------------------------------ OBJ

def count_obj(path):
    counts = Counts()
    base = os.path.splitext(os.path.basename(path))[0]
    with open(path, "rb") as f:
        data = f.read()
    if data.startswith(b"\xfe\xff") or data.startswith(b"\xff\xfe"):
        # OBJ files are ASCII; a reader may decline other encodings.
        counts.may_refuse("UTF-16 text")
    text = decode_text(data)
    lines = text.splitlines()
    objects = {}  # name -> set of vertex indices used
    current = base
    material = None  # the default material until a usemtl
    vertex_nbr = 0
    pending = ""
    for number, raw in enumerate(lines, 1):
        line = pending + raw
        # A backslash at the end of a line continues it on the next.
        if line.endswith("\\"):
            pending = line[:-1] + " "
            continue
        pending = ""
        line = line.strip()
        if not line or line.startswith("#"):
            continue
        tokens = line.split()
        key = tokens[0]
        where = f"line {number}"
        if key == "v":
            if len(tokens) < 4:
                raise Refuse(f"{where}: a vertex needs three coordinates")
            for token in tokens[1:4]:
                parse_float(token, counts, where)
            vertex_nbr += 1
        elif key in ("o", "g"):
            name = line[len(key):].strip()
            current = name if name else base
        elif key == "usemtl":
            name = line[len(key):].strip()
            material = name if name else None
        elif key == "f":
            corners = tokens[1:]
            if len(corners) < 3:
                continue
            used = objects.setdefault(current, set())
            for corner in corners:
                text_index = corner.split("/")[0]
                try:
                    index = int(text_index)
                except ValueError:
                    raise Refuse(f"{where}: '{corner}' is not a face corner")
                if index < 0:
                    index += vertex_nbr + 1
                if index < 1 or index > vertex_nbr:
                    raise Refuse(f"{where}: face index {text_index} is outside the "
                                 f"{vertex_nbr} vertices")
                used.add(index)
            counts.faces += 1
            counts.materials.add(("obj", material))
    counts.points = sum(len(used) for used in objects.values())
    return counts


# ------------------------------------------------------------------------------------ STL

def count_stl(path):
    counts = Counts()
    with open(path, "rb") as f:
        data = f.read()
    if len(data) >= 84:
        facet_nbr = struct.unpack_from("<I", data, 80)[0]
        if 84 + 50 * facet_nbr == len(data):
            return count_binary_stl(data, facet_nbr, counts)
    if data.lstrip().startswith(b"solid"):
        return count_ascii_stl(data, counts)
    if len(data) >= 84:
        raise Refuse("binary STL whose size does not match its facet count")
    raise Refuse("neither an ASCII nor a binary STL file")


def count_binary_stl(data, facet_nbr, counts):
    # Positions compare by value, as floats: 0.0 and -0.0 are one position.
    positions = set()
    for facet in range(facet_nbr):
        values = struct.unpack_from("<12f", data, 84 + 50 * facet)
        for corner in range(3):
            position = values[3 + 3 * corner:6 + 3 * corner]
            if not all(math.isfinite(v) for v in position):
                raise Refuse(f"facet {facet}: a corner is not finite")
            positions.add(position)
    counts.points = len(positions)
    counts.faces = facet_nbr
    if facet_nbr:
        counts.materials.add("default")
    return counts


def count_ascii_stl(data, counts):
    positions = None
    corners = None
    point_total = 0
    for number, raw in enumerate(data.decode("latin-1").splitlines(), 1):
        tokens = raw.split()
        if not tokens:
            continue
        key = tokens[0]
        where = f"line {number}"
        if key == "solid":
            if positions is not None:
                point_total += len(positions)
            positions = set()
        elif key == "facet":
            corners = []
        elif key == "vertex":
            if len(tokens) < 4:
                raise Refuse(f"{where}: a vertex needs three coordinates")
            if corners is None or positions is None:
                raise Refuse(f"{where}: a vertex outside a facet")
            corners.append(tuple(float32(parse_float(t, counts, where)) for t in tokens[1:4]))
        elif key == "endfacet":
            if corners is None:
                raise Refuse(f"{where}: endfacet without facet")
            if len(corners) >= 3:
                positions.update(corners)
                counts.faces += 1
            corners = None
    if positions is not None:
        point_total += len(positions)
    counts.points = point_total
    if counts.faces:
        counts.materials.add("default")
    return counts


# ------------------------------------------------------------------------------------ PLY

PLY_TYPES = {
    "char": "b", "int8": "b", "uchar": "B", "uint8": "B",
    "short": "h", "int16": "h", "ushort": "H", "uint16": "H",
    "int": "i", "int32": "i", "uint": "I", "uint32": "I",
    "float": "f", "float32": "f", "double": "d", "float64": "d",
}
PLY_INTEGER = set("bBhHiI")


class PlyValues:
    """Reads the body of a PLY file value by value, ASCII or binary."""

    def __init__(self, body, fmt):
        self.fmt = fmt
        if fmt == "ascii":
            self.tokens = body.decode("latin-1").split()
            self.pos = 0
        else:
            self.data = body
            self.offset = 0
            self.order = "<" if fmt == "binary_little_endian" else ">"

    def read(self, code):
        if self.fmt == "ascii":
            if self.pos >= len(self.tokens):
                raise Refuse("the file ends before its last element")
            token = self.tokens[self.pos]
            self.pos += 1
            try:
                return int(token) if code in PLY_INTEGER else float(token)
            except ValueError:
                raise Refuse(f"'{token}' is not a number")
        size = struct.calcsize(code)
        if self.offset + size > len(self.data):
            raise Refuse("the file ends before its last element")
        value = struct.unpack_from(self.order + code, self.data, self.offset)[0]
        self.offset += size
        return value

    def remaining(self):
        if self.fmt == "ascii":
            return len(self.tokens) - self.pos
        return len(self.data) - self.offset


def count_ply(path):
    counts = Counts()
    with open(path, "rb") as f:
        data = f.read()
    end = data.find(b"end_header")
    if not data.startswith(b"ply") or end < 0:
        raise Refuse("no PLY header")
    newline = data.find(b"\n", end)
    body = data[newline + 1:] if newline >= 0 else b""
    fmt = None
    elements = []  # [name, count, [(name, code, list count code or None)]]
    for line in data[:end].decode("latin-1").splitlines()[1:]:
        tokens = line.split()
        if not tokens or tokens[0] in ("comment", "obj_info"):
            continue
        if tokens[0] == "format":
            fmt = tokens[1] if len(tokens) > 1 else None
        elif tokens[0] == "element":
            if len(tokens) < 3 or not tokens[2].isdigit():
                raise Refuse(f"bad element line '{line.strip()}'")
            elements.append([tokens[1], int(tokens[2]), []])
        elif tokens[0] == "property":
            if not elements:
                raise Refuse("a property before any element")
            if len(tokens) >= 5 and tokens[1] == "list":
                if tokens[2] not in PLY_TYPES or tokens[3] not in PLY_TYPES:
                    raise Refuse(f"unknown type in '{line.strip()}'")
                elements[-1][2].append((tokens[4], PLY_TYPES[tokens[3]], PLY_TYPES[tokens[2]]))
            elif len(tokens) >= 3 and tokens[1] in PLY_TYPES:
                elements[-1][2].append((tokens[2], PLY_TYPES[tokens[1]], None))
            else:
                raise Refuse(f"bad property line '{line.strip()}'")
    if fmt not in ("ascii", "binary_little_endian", "binary_big_endian"):
        raise Refuse(f"unknown PLY format {fmt}")
    values = PlyValues(body, fmt)
    vertex_nbr = next((count for name, count, _ in elements if name == "vertex"), 0)
    for name, count, properties in elements:
        # Every element holds at least one value per property: a count larger than what
        # remains is refused before anything is read.
        if properties and count > values.remaining():
            raise Refuse(f"element {name} declares {count} items, more than the file holds")
        names = [p[0] for p in properties]
        if name == "vertex" and not all(axis in names for axis in ("x", "y", "z")):
            raise Refuse("the vertices have no x, y, z")
        corner_list = None
        if name == "face":
            corner_list = next((p[0] for p in properties
                                if p[2] is not None and p[0] in ("vertex_indices", "vertex_index")),
                               None)
            if corner_list is None:
                raise Refuse("the faces have no vertex index list")
        for item in range(count):
            for prop_name, code, count_code in properties:
                if count_code is None:
                    value = values.read(code)
                    if name == "vertex" and prop_name in ("x", "y", "z") \
                            and not math.isfinite(value):
                        raise Refuse(f"vertex {item}: {prop_name} is not finite")
                    continue
                length = values.read(count_code)
                if length < 0 or length > values.remaining():
                    raise Refuse(f"{name} {item}: list of {length} values past the end")
                corners = [values.read(code) for _ in range(length)]
                if prop_name == corner_list:
                    for index in corners:
                        if index < 0 or index >= vertex_nbr:
                            raise Refuse(f"face {item}: index {index} is outside the "
                                         f"{vertex_nbr} vertices")
                    if length >= 3:
                        counts.faces += 1
    counts.points = vertex_nbr
    if counts.faces:
        counts.materials.add("default")
    return counts


# ------------------------------------------------------------------------------------ OFF

def count_off(path):
    counts = Counts()
    with open(path, "rb") as f:
        text = f.read().decode("latin-1")
    lines = []
    for number, raw in enumerate(text.splitlines(), 1):
        tokens = raw.split("#", 1)[0].split()
        if tokens:
            lines.append((number, tokens))
    if not lines:
        raise Refuse("empty file")
    number, tokens = lines[0]
    keyword = tokens[0]
    if not re.fullmatch(r"(ST)?C?N?4?n?OFF", keyword):
        raise Refuse("no OFF keyword")
    if "4" in keyword or keyword.endswith("nOFF"):
        raise Refuse("only three-dimensional OFF files are read")
    rest = tokens[1:]
    position = 1
    if rest and rest[0] == "BINARY":
        raise Refuse("binary OFF")
    if not rest:
        if len(lines) < 2:
            raise Refuse("no counts line")
        number, rest = lines[1]
        position = 2
    try:
        vertex_nbr, face_nbr = int(rest[0]), int(rest[1])
    except (ValueError, IndexError):
        raise Refuse(f"line {number}: bad counts")
    if vertex_nbr < 0 or face_nbr < 0:
        raise Refuse(f"line {number}: negative counts")
    # Each vertex and face takes one line: counts larger than the lines left are refused
    # before anything is read.
    if vertex_nbr + face_nbr > len(lines) - position:
        raise Refuse(f"line {number}: {vertex_nbr} vertices and {face_nbr} faces declared, "
                     f"{len(lines) - position} lines remain")
    for number, tokens in lines[position:position + vertex_nbr]:
        if len(tokens) < 3:
            raise Refuse(f"line {number}: a vertex needs three coordinates")
        for token in tokens[:3]:
            parse_float(token, counts, f"line {number}")
    for number, tokens in lines[position + vertex_nbr:position + vertex_nbr + face_nbr]:
        try:
            corner_nbr = int(tokens[0])
            corners = [int(t) for t in tokens[1:1 + corner_nbr]]
        except ValueError:
            raise Refuse(f"line {number}: bad face")
        if corner_nbr < 0 or len(corners) < corner_nbr:
            raise Refuse(f"line {number}: a face of {corner_nbr} corners lists {len(corners)}")
        for index in corners:
            if index < 0 or index >= vertex_nbr:
                raise Refuse(f"line {number}: face index {index} is outside the "
                             f"{vertex_nbr} vertices")
        if corner_nbr >= 3:
            counts.faces += 1
    counts.points = vertex_nbr
    if counts.faces:
        counts.materials.add("default")
    return counts


# ----------------------------------------------------------------------------------- glTF

COMPONENTS = {5120: "b", 5121: "B", 5122: "h", 5123: "H", 5125: "I", 5126: "f"}
TYPE_SIZES = {"SCALAR": 1, "VEC2": 2, "VEC3": 3, "VEC4": 4, "MAT2": 4, "MAT3": 9, "MAT4": 16}
TRIANGLE_MODES = (4, 5, 6)


class NotGltf2(Exception):
    """A glTF 1.0 file: not read by the 3DZan glTF reader."""


def check_types(document, counts):
    """Properties of the core schema that the counts do not depend on (names, material
    parameters), with a wrong type: a reader may refuse the file for them."""
    def wrong(value, kind):
        return not isinstance(value, kind) or isinstance(value, bool)

    for key in ("scenes", "nodes", "meshes", "materials", "textures", "images"):
        items = document.get(key)
        if not isinstance(items, list):
            continue
        for i, item in enumerate(items):
            if isinstance(item, dict) and "name" in item and wrong(item["name"], str):
                counts.may_refuse(f"{key}[{i}].name is not a string")
    number = (int, float)
    texture_info = {"baseColorTexture": {}, "metallicRoughnessTexture": {},
                    "normalTexture": {"scale": number}, "occlusionTexture": {"strength": number},
                    "emissiveTexture": {}}

    def check_texture(texture, where):
        if wrong(texture, dict):
            counts.may_refuse(f"{where} is not an object")
            return
        index = texture.get("index")
        if wrong(index, int) or index < 0:
            counts.may_refuse(f"{where}.index is not a texture index")
        for name, extension in texture.get("extensions", {}).items():
            if wrong(extension, dict):
                counts.may_refuse(f"{where}.extensions.{name} is not an object")

    materials = document.get("materials")
    for i, material in enumerate(materials if isinstance(materials, list) else []):
        where = f"materials[{i}]"
        if wrong(material, dict):
            continue
        pbr = material.get("pbrMetallicRoughness", {})
        if wrong(pbr, dict):
            counts.may_refuse(f"{where}.pbrMetallicRoughness is not an object")
            pbr = {}
        for key in ("metallicFactor", "roughnessFactor"):
            if key in pbr and wrong(pbr[key], number):
                counts.may_refuse(f"{where}.pbrMetallicRoughness.{key} is not a number")
        for key in ("baseColorTexture", "metallicRoughnessTexture"):
            if key in pbr:
                check_texture(pbr[key], f"{where}.pbrMetallicRoughness.{key}")
        for key, fields in texture_info.items():
            if key in material and key not in ("baseColorTexture", "metallicRoughnessTexture"):
                check_texture(material[key], f"{where}.{key}")
                if isinstance(material[key], dict):
                    for field, kind in fields.items():
                        if field in material[key] and wrong(material[key][field], kind):
                            counts.may_refuse(f"{where}.{key}.{field} is not a number")


def load_gltf(path):
    with open(path, "rb") as f:
        data = f.read()
    binary_chunk = None
    if path.lower().endswith(".glb"):
        if len(data) < 20 or data[:4] != b"glTF":
            raise Refuse("no glb header")
        version, length = struct.unpack_from("<II", data, 4)
        if version != 2:
            raise NotGltf2()
        if length > len(data):
            raise Refuse("glb length past the end of the file")
        json_length, json_type = struct.unpack_from("<II", data, 12)
        if json_type != 0x4E4F534A or 20 + json_length > length:
            raise Refuse("bad glb JSON chunk")
        text = data[20:20 + json_length]
        offset = 20 + ((json_length + 3) & ~3)
        if offset + 8 <= length:
            bin_length, bin_type = struct.unpack_from("<II", data, offset)
            if bin_type == 0x004E4942:
                if offset + 8 + bin_length > length:
                    raise Refuse("glb binary chunk past the end")
                binary_chunk = data[offset + 8:offset + 8 + bin_length]
    else:
        text = data
    try:
        document = json.loads(text.decode("utf-8"))
    except (UnicodeDecodeError, ValueError) as e:
        raise Refuse(f"bad JSON: {e}")
    if not isinstance(document, dict):
        raise Refuse("the document is not an object")
    asset = document.get("asset")
    version = asset.get("version") if isinstance(asset, dict) else None
    if not (isinstance(version, str) and version.startswith("2")):
        raise NotGltf2()
    return document, binary_chunk


def gltf_list(document, key):
    value = document.get(key, [])
    if not isinstance(value, list):
        raise Refuse(f"'{key}' is not an array")
    return value


def gltf_index(value, array, what):
    if not isinstance(value, int) or isinstance(value, bool) or not 0 <= value < len(array):
        raise Refuse(f"{what} {value!r} does not name one of the {len(array)} items")
    return value


def count_gltf(path):
    counts = Counts()
    document, binary_chunk = load_gltf(path)
    check_types(document, counts)
    required = document.get("extensionsRequired", [])
    if required:
        raise Refuse(f"required extensions {required} are not supported")
    folder = os.path.dirname(path)

    buffers = []
    for i, buffer in enumerate(gltf_list(document, "buffers")):
        if not isinstance(buffer, dict):
            raise Refuse(f"buffer {i} is not an object")
        uri = buffer.get("uri")
        if uri is None:
            if i != 0 or binary_chunk is None:
                raise Refuse(f"buffer {i} has no data")
            content = binary_chunk
        elif uri.startswith("data:"):
            header, _, payload = uri.partition(",")
            if not header.endswith(";base64"):
                raise Refuse(f"buffer {i}: data URI without base64")
            try:
                content = base64.b64decode(payload, validate=True)
            except ValueError:
                raise Refuse(f"buffer {i}: bad base64")
        else:
            target = os.path.join(folder, urllib.parse.unquote(uri))
            if not os.path.isfile(target):
                raise Refuse(f"buffer {i}: {uri} is missing")
            with open(target, "rb") as f:
                content = f.read()
        length = buffer.get("byteLength")
        if not isinstance(length, int) or length > len(content):
            raise Refuse(f"buffer {i}: byteLength {length} past its data")
        buffers.append(content[:length])

    views = gltf_list(document, "bufferViews")
    accessors = gltf_list(document, "accessors")
    materials = gltf_list(document, "materials")

    def read_accessor(index):
        gltf_index(index, accessors, "accessor")
        accessor = accessors[index]
        if not isinstance(accessor, dict):
            raise Refuse(f"accessor {index} is not an object")
        code = COMPONENTS.get(accessor.get("componentType"))
        width = TYPE_SIZES.get(accessor.get("type"))
        count = accessor.get("count")
        if code is None or width is None or not isinstance(count, int) or count < 0:
            raise Refuse(f"accessor {index}: bad type or count")
        if "sparse" in accessor:
            counts.may_refuse(f"accessor {index} is sparse")
        if "bufferView" not in accessor:
            return [(0,) * width] * count if count <= 1 << 24 else []
        view = views[gltf_index(accessor["bufferView"], views, "buffer view")]
        data = buffers[gltf_index(view.get("buffer"), buffers, "buffer")]
        view_offset = view.get("byteOffset", 0)
        view_length = view.get("byteLength", 0)
        if view_offset + view_length > len(data):
            raise Refuse(f"buffer view {accessor['bufferView']} past its buffer")
        element = struct.calcsize("<" + code) * width
        stride = view.get("byteStride") or element
        offset = view_offset + accessor.get("byteOffset", 0)
        if count and offset + stride * (count - 1) + element > view_offset + view_length:
            raise Refuse(f"accessor {index}: {count} items past its buffer view")
        fmt = "<" + code * width
        return [struct.unpack_from(fmt, data, offset + stride * i) for i in range(count)]

    meshes = gltf_list(document, "meshes")
    mesh_counts = {}

    def count_mesh(index):
        if index in mesh_counts:
            return mesh_counts[index]
        mesh = meshes[index]
        if not isinstance(mesh, dict):
            raise Refuse(f"mesh {index} is not an object")
        points = faces = 0
        used = set()
        for p, primitive in enumerate(gltf_list(mesh, "primitives")):
            if not isinstance(primitive, dict):
                raise Refuse(f"mesh {index} primitive {p} is not an object")
            mode = primitive.get("mode", 4)
            if mode not in range(7):
                raise Refuse(f"mesh {index} primitive {p}: mode {mode}")
            if mode not in TRIANGLE_MODES:
                continue
            attributes = primitive.get("attributes")
            if not isinstance(attributes, dict) or "POSITION" not in attributes:
                raise Refuse(f"mesh {index} primitive {p} has no positions")
            positions = read_accessor(attributes["POSITION"])
            for position in positions:
                if not all(math.isfinite(v) for v in position):
                    raise Refuse(f"mesh {index} primitive {p}: a position is not finite")
            for name, attribute in attributes.items():
                values = read_accessor(attribute)
                if len(values) != len(positions):
                    counts.may_refuse(f"mesh {index} primitive {p}: {name} has "
                                      f"{len(values)} items for {len(positions)} positions")
                elif any(not math.isfinite(v) for item in values for v in item
                         if isinstance(v, float)):
                    counts.may_refuse(f"mesh {index} primitive {p}: {name} is not finite")
            if "indices" in primitive:
                corners = [value[0] for value in read_accessor(primitive["indices"])]
                for corner in corners:
                    if corner >= len(positions):
                        raise Refuse(f"mesh {index} primitive {p}: index {corner} is outside "
                                     f"the {len(positions)} positions")
                corner_nbr = len(corners)
            else:
                corner_nbr = len(positions)
            if mode == 4:
                if corner_nbr % 3:
                    counts.may_refuse(f"mesh {index} primitive {p}: {corner_nbr} corners "
                                      "do not make whole triangles")
                triangles = corner_nbr // 3
            else:
                triangles = max(corner_nbr - 2, 0)
            points += len(positions)
            faces += triangles
            if triangles:
                if "material" in primitive:
                    used.add(gltf_index(primitive["material"], materials, "material"))
                else:
                    used.add("default")
        mesh_counts[index] = (points, faces, used)
        return mesh_counts[index]

    # A reader builds every mesh, used or not: all of them must be readable.
    for index in range(len(meshes)):
        count_mesh(index)

    nodes = gltf_list(document, "nodes")
    scenes = gltf_list(document, "scenes")
    if scenes:
        scene = document.get("scene", 0)
        roots = scenes[gltf_index(scene, scenes, "scene")]
        if not isinstance(roots, dict):
            raise Refuse("the scene is not an object")
        roots = gltf_list(roots, "nodes")
    else:
        children = {c for n in nodes if isinstance(n, dict) for c in n.get("children", [])
                    if isinstance(c, int)}
        roots = [i for i in range(len(nodes)) if i not in children]
    visited = set()
    stack = [gltf_index(r, nodes, "node") for r in roots]
    while stack:
        index = stack.pop()
        if index in visited:
            raise Refuse(f"node {index} appears twice in the hierarchy")
        visited.add(index)
        node = nodes[index]
        if not isinstance(node, dict):
            raise Refuse(f"node {index} is not an object")
        stack.extend(gltf_index(c, nodes, "node") for c in gltf_list(node, "children"))
        if "mesh" in node:
            points, faces, used = count_mesh(gltf_index(node["mesh"], meshes, "mesh"))
            counts.points += points
            counts.faces += faces
            counts.materials |= used
    return counts


# ----------------------------------------------------------------------------------- main

READERS = {".obj": ("OBJ", count_obj), ".stl": ("STL", count_stl), ".ply": ("PLY", count_ply),
           ".off": ("OFF", count_off), ".gltf": ("GLTF", count_gltf),
           ".glb": ("GLTF", count_gltf)}


def main():
    models = sys.argv[1] if len(sys.argv) > 1 else DEFAULT_MODELS
    output = sys.argv[2] if len(sys.argv) > 2 else DEFAULT_OUTPUT
    if not os.path.isdir(models):
        sys.exit(f"record_testmodels: {models} is not a folder (install assimp-testmodels)")
    rows = []
    for folder, subfolders, files in os.walk(models):
        subfolders.sort()
        relative_folder = os.path.relpath(folder, models)
        if relative_folder.split(os.sep)[0] in SKIPPED_FOLDERS:
            continue
        for name in sorted(files):
            extension = os.path.splitext(name)[1].lower()
            if extension not in READERS:
                continue
            path = os.path.join(folder, name)
            relative = os.path.relpath(path, models)
            label, reader = READERS[extension]
            try:
                counts = reader(path)
            except NotGltf2:
                continue
            except Refuse as e:
                rows.append((relative, label, "error", "error", "error", str(e)))
                continue
            notes = list(counts.lenient)
            if counts.faces == 0:
                notes.append("no face")
            note = "may-refuse: " + "; ".join(notes) if notes else ""
            rows.append((relative, label, str(counts.points), str(counts.faces),
                         str(len(counts.materials)), note))
    rows.sort()
    os.makedirs(os.path.dirname(os.path.abspath(output)), exist_ok=True)
    with open(output, "w", encoding="utf-8") as f:
        f.write("# Written by scripts/record_testmodels.py from the assimp-testmodels package.\n")
        f.write("# path\tformat\tpoints\tfaces\tmaterials\tnote\n")
        for row in rows:
            f.write("\t".join(field.replace("\t", " ") for field in row) + "\n")
    print(f"record_testmodels: {len(rows)} files written to {output}")


if __name__ == "__main__":
    main()
