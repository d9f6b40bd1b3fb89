#!/usr/bin/env python3
"""Writes the small glTF files of the io tests (run from this folder)."""
import base64, json, math, struct


def pad4(data, fill=b'\0'):
    return data + fill * (-len(data) % 4)


# triangle.gltf: one triangle, embedded buffer, normals, texture coordinates, colours and a
# textured, half transparent material; no indices (sequential corners).
positions = struct.pack('<9f', 0, 0, 0, 1, 0, 0, 0, 1, 0)
normals = struct.pack('<9f', 0, 0, 1, 0, 0, 1, 0, 0, 1)
uvs = struct.pack('<6f', 0, 0, 1, 0, 0, 1)
colors = bytes([255, 0, 0, 255, 0, 255, 0, 128, 0, 0, 255, 255])
blob = positions + normals + uvs + colors
tri = {
    'asset': {'version': '2.0'},
    'scenes': [{'nodes': [0]}],
    'nodes': [{'mesh': 0}],
    'meshes': [{'name': 'Tri', 'primitives': [{
        'attributes': {'POSITION': 0, 'NORMAL': 1, 'TEXCOORD_0': 2, 'COLOR_0': 3},
        'material': 0}]}],
    'materials': [{'name': 'Glass', 'pbrMetallicRoughness': {
        'baseColorFactor': [0.2, 0.4, 0.6, 0.5], 'baseColorTexture': {'index': 0}}}],
    'textures': [{'source': 0}],
    'images': [{'uri': 'tex%20ture.png'}],
    'buffers': [{'byteLength': len(blob),
                 'uri': 'data:application/octet-stream;base64,' + base64.b64encode(blob).decode()}],
    'bufferViews': [{'buffer': 0, 'byteOffset': 0, 'byteLength': 36},
                    {'buffer': 0, 'byteOffset': 36, 'byteLength': 36},
                    {'buffer': 0, 'byteOffset': 72, 'byteLength': 24},
                    {'buffer': 0, 'byteOffset': 96, 'byteLength': 12}],
    'accessors': [
        {'bufferView': 0, 'componentType': 5126, 'count': 3, 'type': 'VEC3',
         'min': [0, 0, 0], 'max': [1, 1, 0]},
        {'bufferView': 1, 'componentType': 5126, 'count': 3, 'type': 'VEC3'},
        {'bufferView': 2, 'componentType': 5126, 'count': 3, 'type': 'VEC2'},
        {'bufferView': 3, 'componentType': 5121, 'normalized': True, 'count': 3, 'type': 'VEC4'}],
}
with open('triangle.gltf', 'w') as f:
    json.dump(tri, f, indent=1)

# instanced_box.gltf + .bin: a unit box (two materials, one primitive each) used by two nodes
# under a translated group; a third node using it lives in scene 1, which is not the default.
box = [(x, y, z) for x in (0, 1) for y in (0, 1) for z in (0, 1)]
quads = [(0, 1, 3, 2), (4, 6, 7, 5), (0, 4, 5, 1), (2, 3, 7, 6), (0, 2, 6, 4), (1, 5, 7, 3)]
tris = [t for a, b, c, d in quads for t in ((a, b, c), (a, c, d))]
pos = b''.join(struct.pack('<3f', *p) for p in box)
first = b''.join(struct.pack('<3H', *t) for t in tris[:6])
second = b''.join(struct.pack('<3H', *t) for t in tris[6:])
bin_data = pos + first + second
half = math.sqrt(0.5)
boxdoc = {
    'asset': {'version': '2.1', 'generator': 'make_gltf_data.py'},
    'scene': 0,
    'scenes': [{'nodes': [0]}, {'nodes': [3]}],
    'nodes': [{'name': 'Group', 'translation': [10, 0, 0], 'children': [1, 2]},
              {'name': 'BoxA', 'mesh': 0, 'translation': [0, 5, 0]},
              {'name': 'BoxB', 'mesh': 0, 'rotation': [0, 0, half, half], 'scale': [2, 2, 2]},
              {'name': 'Elsewhere', 'mesh': 0}],
    'meshes': [{'name': 'Box', 'primitives': [
        {'attributes': {'POSITION': 0}, 'indices': 1, 'material': 0},
        {'attributes': {'POSITION': 0}, 'indices': 2, 'material': 1}]}],
    'materials': [{'name': 'Red', 'pbrMetallicRoughness': {'baseColorFactor': [1, 0, 0, 1]}},
                  {'name': 'Blue', 'pbrMetallicRoughness': {'baseColorFactor': [0, 0, 1, 1]}}],
    'buffers': [{'byteLength': len(bin_data), 'uri': 'instanced_box.bin'}],
    'bufferViews': [{'buffer': 0, 'byteOffset': 0, 'byteLength': len(pos)},
                    {'buffer': 0, 'byteOffset': len(pos), 'byteLength': len(first)},
                    {'buffer': 0, 'byteOffset': len(pos) + len(first), 'byteLength': len(second)}],
    'accessors': [
        {'bufferView': 0, 'componentType': 5126, 'count': 8, 'type': 'VEC3'},
        {'bufferView': 1, 'componentType': 5123, 'count': 18, 'type': 'SCALAR'},
        {'bufferView': 2, 'componentType': 5123, 'count': 18, 'type': 'SCALAR'}],
}
with open('instanced_box.gltf', 'w') as f:
    json.dump(boxdoc, f, indent=1)
with open('instanced_box.bin', 'wb') as f:
    f.write(bin_data)

# strip_fan.glb: a strip of 6 corners (4 triangles), a fan of 5 (3 triangles) and a line
# primitive, all in the plane z = 0 and wound counter-clockwise seen from +z.
strip = [(0, 1, 0), (0, 0, 0), (1, 1, 0), (1, 0, 0), (2, 1, 0), (2, 0, 0)]
fan = [(5, 0, 0), (6, 0, 0), (6, 1, 0), (5, 1, 0), (4, 1, 0)]
line = [(0, 0, 3), (1, 0, 3)]
chunks = [b''.join(struct.pack('<3f', *p) for p in pts) for pts in (strip, fan, line)]
views, offset = [], 0
for c in chunks:
    views.append({'buffer': 0, 'byteOffset': offset, 'byteLength': len(c)})
    offset += len(c)
glbdoc = {
    'asset': {'version': '2.0'},
    'nodes': [{'name': 'Strips', 'mesh': 0}],
    'meshes': [{'primitives': [{'attributes': {'POSITION': 0}, 'mode': 5},
                               {'attributes': {'POSITION': 1}, 'mode': 6},
                               {'attributes': {'POSITION': 2}, 'mode': 1}]}],
    'buffers': [{'byteLength': offset}],
    'bufferViews': views,
    'accessors': [{'bufferView': i, 'componentType': 5126, 'count': len(p), 'type': 'VEC3'}
                  for i, p in enumerate((strip, fan, line))],
}
js = pad4(json.dumps(glbdoc).encode(), b' ')
binchunk = pad4(b''.join(chunks))
total = 12 + 8 + len(js) + 8 + len(binchunk)
with open('strip_fan.glb', 'wb') as f:
    f.write(struct.pack('<4sII', b'glTF', 2, total))
    f.write(struct.pack('<I4s', len(js), b'JSON') + js)
    f.write(struct.pack('<I4s', len(binchunk), b'BIN\0') + binchunk)

# missing_buffer.gltf: names a buffer file that does not exist.
with open('missing_buffer.gltf', 'w') as f:
    json.dump({'asset': {'version': '2.0'}, 'nodes': [{}],
               'buffers': [{'byteLength': 12, 'uri': 'not_here.bin'}]}, f)
