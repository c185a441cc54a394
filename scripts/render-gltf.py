# Renders a glTF file to a small PNG with Blender's Workbench engine, from the
# front left of the model, in its materials' base colours:
#
#   blender -b --python scripts/render-gltf.py -- MODEL.glb OUT.png
#
# With an animation, the model is rendered posed by it at each time given (in
# seconds), to OUT-<time>s.png, all from one camera; the actions the import
# made are listed first, and per time where the mesh and each bone stand:
#
#   blender -b --python scripts/render-gltf.py -- MODEL.glb OUT.png --animation NAME --times 0,0.5
#
# Debian's Blender needs python3-numpy for its glTF importer.
import sys, math
import numpy
numpy.bool = bool  # the importer still asks for the alias newer numpy removed
import bpy, mathutils
argv = sys.argv[sys.argv.index("--") + 1:]
src, out = argv[0], argv[1]
animation = argv[argv.index("--animation") + 1] if "--animation" in argv else None
times = [float(t) for t in argv[argv.index("--times") + 1].split(",")] if "--times" in argv else [0.0]
bpy.ops.wm.read_factory_settings(use_empty=True)
bpy.ops.import_scene.gltf(filepath=src)
armatures = [o for o in bpy.context.scene.objects if o.type == 'ARMATURE']
if animation is not None:
    print("actions:", sorted(a.name for a in bpy.data.actions))
    # The importer names an action after its animation, with the object's
    # name after it when it cannot have the name alone.
    action = bpy.data.actions.get(animation) or next(
        (a for a in bpy.data.actions if a.name.startswith(animation + "_")), None)
    if action is None or not armatures:
        sys.exit("no action %r on an armature" % animation)
    for arm in armatures:
        arm.animation_data_create()
        for track in list(arm.animation_data.nla_tracks):
            arm.animation_data.nla_tracks.remove(track)
        arm.animation_data.action = action
objs = [o for o in bpy.context.scene.objects if o.type == 'MESH']
# Workbench shows a material's viewport colour: take the glTF base colour.
for m in bpy.data.materials:
    bsdf = m.node_tree.nodes.get('Principled BSDF') if m.use_nodes else None
    if bsdf is not None:
        m.diffuse_color = bsdf.inputs['Base Color'].default_value
lo = mathutils.Vector((1e9,)*3); hi = mathutils.Vector((-1e9,)*3)
fps = bpy.context.scene.render.fps / bpy.context.scene.render.fps_base
def pose_at(t):
    frame = t * fps
    bpy.context.scene.frame_set(int(math.floor(frame)), subframe=frame - math.floor(frame))
# The box around the model (posed at every time asked for), framed by the camera.
for t in (times if animation is not None else [None]):
    if t is not None:
        pose_at(t)
    depsgraph = bpy.context.evaluated_depsgraph_get()
    for o in objs:
        ev = o.evaluated_get(depsgraph)
        for c in ev.bound_box:
            w = ev.matrix_world @ mathutils.Vector(c)
            lo = mathutils.Vector(map(min, lo, w)); hi = mathutils.Vector(map(max, hi, w))
centre = (lo + hi) / 2; size = (hi - lo).length
cam = bpy.data.objects.new("cam", bpy.data.cameras.new("cam"))
bpy.context.scene.collection.objects.link(cam)
# Front three-quarter view from the car's left (Blender is Z-up; the car's front is +Y in Blender).
d = mathutils.Vector((-0.75, 0.95, 0.45)).normalized()
cam.location = centre + d * size * 1.25
cam.rotation_euler = (centre - cam.location).to_track_quat('-Z', 'Y').to_euler()
cam.data.lens = 40
scene = bpy.context.scene
scene.camera = cam
scene.render.engine = 'BLENDER_WORKBENCH'
scene.display.shading.light = 'STUDIO'
scene.display.shading.color_type = 'MATERIAL'
scene.display.shading.show_shadows = False
scene.render.resolution_x, scene.render.resolution_y = 320, 180
scene.render.film_transparent = False
scene.world = bpy.data.worlds.new("w") if scene.world is None else scene.world
scene.render.image_settings.file_format = 'PNG'
scene.render.image_settings.color_mode = 'RGB'
scene.render.image_settings.compression = 100
if animation is None:
    scene.render.filepath = out
    bpy.ops.render.render(write_still=True)
    sys.exit(0)
stem = out[:-4] if out.lower().endswith(".png") else out
for t in times:
    pose_at(t)
    depsgraph = bpy.context.evaluated_depsgraph_get()
    for o in objs:
        ev = o.evaluated_get(depsgraph)
        pts = [ev.matrix_world @ v.co for v in ev.to_mesh().vertices]
        if pts:
            lo_ = [min(p[i] for p in pts) for i in range(3)]; hi_ = [max(p[i] for p in pts) for i in range(3)]
            print("t=%g %s mesh from (%.3f %.3f %.3f) to (%.3f %.3f %.3f)" % (t, o.name, *lo_, *hi_))
        ev.to_mesh_clear()
    for arm in armatures:
        for b in arm.pose.bones:
            h = arm.matrix_world @ b.head
            print("t=%g bone %s at (%.3f %.3f %.3f)" % (t, b.name, h.x, h.y, h.z))
    scene.render.filepath = "%s-%gs.png" % (stem, t)
    bpy.ops.render.render(write_still=True)
