# Builds the Blender test scenes from primitives, exports each as .glb, .gltf with its .bin and
# pictures beside it, .gltf with everything embedded, and OBJ with MTL, and renders each from
# one fixed camera to a small PNG:
#
#   blender -b --factory-startup -P make-scenes.py -- OUTDIR
#
# Every number the tests depend on is set here (camera, sizes, colours); see README.md.
import math
import os
import struct
import sys

import bpy

OUT = os.path.abspath(sys.argv[sys.argv.index("--") + 1])
os.makedirs(os.path.join(OUT, "pictures"), exist_ok=True)

# The camera: Blender (0, -12, 0) looking along +y, z up; glTF (0, 0, 12) looking along -z,
# y up. Vertical field of view 40 degrees on a 160 x 120 picture.
CAMERA_AT = (0.0, -12.0, 0.0)
FOV_Y = math.radians(40.0)
WIDTH, HEIGHT = 160, 120

# The picture: 16 x 16 pixels, quadrants red (top left), green (top right), blue (bottom left),
# yellow (bottom right), so a flip or turn of the texture coordinates shows.
QUADRANTS = {(0, 1): (1, 0, 0), (1, 1): (0, 1, 0), (0, 0): (0, 0, 1), (1, 0): (1, 1, 0)}


def fresh_scene():
    bpy.ops.wm.read_factory_settings(use_empty=True)
    scene = bpy.context.scene
    camera = bpy.data.objects.new("Camera", bpy.data.cameras.new("Camera"))
    scene.collection.objects.link(camera)
    camera.location = CAMERA_AT
    camera.rotation_euler = (math.radians(90), 0, 0)
    camera.data.sensor_fit = "VERTICAL"
    camera.data.angle_y = FOV_Y
    camera.data.clip_start, camera.data.clip_end = 1, 100
    scene.camera = camera
    return scene


def checker_picture():
    path = os.path.join(OUT, "pictures", "checker.png")
    image = bpy.data.images.new("checker", 16, 16, alpha=False)
    pixels = []
    for y in range(16):  # rows bottom first
        for x in range(16):
            pixels += list(QUADRANTS[(x // 8, y // 8)]) + [1]
    image.pixels = pixels
    image.filepath_raw = path
    image.file_format = "PNG"
    image.save()
    image.filepath = path
    image.reload()
    return image


def principled(material):
    material.use_nodes = True
    return material.node_tree.nodes["Principled BSDF"]


def colour_material(name, rgb):
    material = bpy.data.materials.new(name)
    principled(material).inputs["Base Color"].default_value = (*rgb, 1)
    material.diffuse_color = (*rgb, 1)
    return material


def picture_material(name, image, mapping=None):
    material = bpy.data.materials.new(name)
    bsdf = principled(material)
    nodes, links = material.node_tree.nodes, material.node_tree.links
    texture = nodes.new("ShaderNodeTexImage")
    texture.image = image
    links.new(texture.outputs["Color"], bsdf.inputs["Base Color"])
    if mapping:
        coords = nodes.new("ShaderNodeTexCoord")
        node = nodes.new("ShaderNodeMapping")
        node.inputs["Location"].default_value = (*mapping[0], 0)
        node.inputs["Rotation"].default_value = (0, 0, mapping[1])
        node.inputs["Scale"].default_value = (*mapping[2], 1)
        links.new(coords.outputs["UV"], node.inputs["Vector"])
        links.new(node.outputs["Vector"], texture.inputs["Vector"])
    return material


def place(obj, location, rotation=(0, 0, 0), scale=(1, 1, 1), material=None, parent=None):
    obj.parent = parent
    obj.location = location
    obj.rotation_euler = [math.radians(a) for a in rotation]
    obj.scale = scale
    if material:
        obj.data.materials.append(material)
    return obj


def add(kind, name, **options):
    getattr(bpy.ops.mesh, "primitive_" + kind + "_add")(**options)
    obj = bpy.context.active_object
    obj.name = obj.data.name = name
    return obj


def scene_nodes(picture):
    """A node tree: each child placed in its parent's turned and scaled space; and a picture
    turned 30 degrees, scaled and moved by a mapping node."""
    turned = picture_material("Turned", picture, ((0.1, 0.2), math.radians(30), (1.5, 1.5)))
    place(add("plane", "Turned", size=2.4), (-2.6, 0, -2.6), (90, 0, 0), material=turned)
    parent = place(add("cube", "Parent", size=1), (-3, 0, 1.5), (0, 0, 30), (1, 1, 1.5),
                   colour_material("Red", (0.8, 0.05, 0.05)))
    child = place(add("cube", "Child", size=1), (2.5, 1, -1.4), (45, 0, 0), (0.8, 0.8, 0.5),
                  colour_material("Green", (0.05, 0.6, 0.1)), parent)
    place(add("ico_sphere", "Grandchild", radius=0.6, subdivisions=2), (3, 0, 2), (0, 0, 0),
          (1, 1, 1.5), colour_material("Blue", (0.1, 0.15, 0.9)), child)


def scene_materials(picture):
    """Base colour factor, base colour texture, no material, a mapping node, a colour layer,
    and a plane seen from behind through a double-sided material."""
    sphere = place(add("uv_sphere", "Sphere", radius=1.2, segments=24, ring_count=12),
                   (-3.5, 0, 2), material=colour_material("Orange", (0.8, 0.25, 0.02)))
    bpy.ops.object.shade_smooth()
    place(add("plane", "Picture", size=2.4), (0, 0, 2), (90, 0, 0),
          material=picture_material("Checker", picture))
    place(add("cube", "Plain", size=1.6), (3.5, 0, 2), (20, 0, 30))
    mapped = picture_material("Mapped", picture, ((0.25, 0.5), math.radians(90), (2, 1)))
    place(add("plane", "Mapped", size=2.4), (-3.5, 0, -2), (90, 0, 0), material=mapped)
    painted = place(add("cube", "Painted", size=1.6), (0, 0, -2), (20, 0, 30),
                    material=colour_material("Teal", (0.02, 0.4, 0.35)))
    layer = painted.data.color_attributes.new("Col", "BYTE_COLOR", "CORNER")
    for i, value in enumerate(layer.data):
        value.color = (i % 2, (i // 2) % 2, (i // 4) % 2, 1)
    back = colour_material("Purple", (0.4, 0.05, 0.5))
    back.use_backface_culling = False
    place(add("plane", "Back", size=2.0), (3.5, 0, -2), (-90, 0, 0), material=back)
    for material in bpy.data.materials:
        if material.name != "Purple":
            material.use_backface_culling = True


def scene_cylinder(picture):
    """A 32-sided cylinder with n-gon caps and a picture material (its OBJ material has no Kd)."""
    place(add("cylinder", "Cylinder", vertices=32, radius=2, depth=3, end_fill_type="NGON"),
          (0, 0, 0), (60, 0, 20), material=picture_material("Label", picture))


def export(name):
    base = os.path.join(OUT, name)
    bpy.ops.export_scene.gltf(filepath=base + ".glb", export_format="GLB")
    bpy.ops.export_scene.gltf(filepath=base + ".gltf", export_format="GLTF_SEPARATE",
                              export_texture_dir="pictures")
    bpy.ops.export_scene.gltf(filepath=base + "-embedded.gltf", export_format="GLTF_EMBEDDED")
    bpy.ops.wm.obj_export(filepath=base + ".obj", path_mode="RELATIVE")


def emission_only():
    """What each surface shows without light: its base colour (or picture) as emission, so the
    render holds the material's colour itself, only colour-managed to the picture."""
    for material in bpy.data.materials:
        tree = material.node_tree
        bsdf = tree.nodes["Principled BSDF"]
        emission = tree.nodes.new("ShaderNodeEmission")
        colour = bsdf.inputs["Base Color"]
        if colour.links:
            tree.links.new(colour.links[0].from_socket, emission.inputs["Color"])
        else:
            emission.inputs["Color"].default_value = colour.default_value
        tree.links.new(emission.outputs["Emission"], tree.nodes["Material Output"].inputs[0])
    # glTF's default material is white; Blender's own default is grey.
    white = bpy.data.materials.new("Default")
    white.use_nodes = True
    tree = white.node_tree
    emission = tree.nodes.new("ShaderNodeEmission")
    emission.inputs["Color"].default_value = (1, 1, 1, 1)
    tree.links.new(emission.outputs["Emission"], tree.nodes["Material Output"].inputs[0])
    for obj in bpy.context.scene.objects:
        if obj.type == "MESH" and not obj.data.materials:
            obj.data.materials.append(white)


def render(name):
    scene = bpy.context.scene
    scene.render.engine = "CYCLES"
    scene.cycles.device = "CPU"
    scene.cycles.samples = 1
    scene.cycles.use_denoising = False
    scene.cycles.pixel_filter_type = "BOX"
    scene.cycles.filter_width = 0.01  # one ray through each pixel's centre: no blended edges
    scene.render.film_transparent = True
    scene.render.resolution_x, scene.render.resolution_y = WIDTH, HEIGHT
    scene.render.resolution_percentage = 100
    scene.view_settings.view_transform = "Standard"
    scene.view_settings.look = "None"
    scene.render.image_settings.file_format = "PNG"
    scene.render.image_settings.color_mode = "RGBA"
    scene.render.filepath = os.path.join(OUT, name + "-blender.png")
    emission_only()
    bpy.ops.render.render(write_still=True)
    drop_text(scene.render.filepath)


def drop_text(path):
    """The render's text chunks (date, file name, render time) left out: made again, the picture
    is the same file."""
    data, kept = open(path, "rb").read(), b""
    at = 8
    while at < len(data):
        length = struct.unpack(">I", data[at:at + 4])[0]
        if data[at + 4:at + 8] != b"tEXt":
            kept += data[at:at + 12 + length]
        at += 12 + length
    open(path, "wb").write(data[:8] + kept)


for name, build in (("nodes", scene_nodes), ("materials", scene_materials),
                    ("cylinder", scene_cylinder)):
    fresh_scene()
    picture = checker_picture()
    build(picture)
    bpy.ops.object.select_all(action="DESELECT")
    export(name)
    render(name)
