// Loads the glTF file named by ?model=, frames it from a three-quarter view above the front
// and draws one frame, then sets <body data-state> to "done" (or to "error", with the reason in
// #message). scripts/render/shoot.mjs waits for that before it takes the picture.
import * as THREE from 'three';
import { GLTFLoader } from 'three/addons/loaders/GLTFLoader.js';

const body = document.body;
const message = document.getElementById('message');

function fail(text) {
  message.textContent = 'render failed: ' + text;
  body.dataset.state = 'error';
  console.error(text);
}

const params = new URLSearchParams(location.search);
const modelUrl = params.get('model');
if (!modelUrl) {
  fail('no ?model= given');
} else {
  render(modelUrl).catch((e) => fail(String(e && e.stack || e)));
}

async function render(url) {
  // ?width=&height= fix the picture's size: headless Chromium's viewport is not always the
  // window size it was given while the page loads.
  const width = Number(params.get('width')) || window.innerWidth;
  const height = Number(params.get('height')) || window.innerHeight;

  const renderer = new THREE.WebGLRenderer({ antialias: true, preserveDrawingBuffer: true });
  renderer.setPixelRatio(1);
  renderer.setSize(width, height);
  renderer.outputColorSpace = THREE.SRGBColorSpace;
  renderer.toneMapping = THREE.NeutralToneMapping;
  renderer.shadowMap.enabled = true;
  renderer.shadowMap.type = THREE.PCFSoftShadowMap;
  document.body.appendChild(renderer.domElement);

  const scene = new THREE.Scene();
  scene.background = new THREE.Color(0xd9d9d9);

  const gltf = await new GLTFLoader().loadAsync(url);
  const model = gltf.scene;
  scene.add(model);
  model.updateMatrixWorld(true);
  model.traverse((node) => {
    if (node.isMesh) {
      node.castShadow = true;
      node.receiveShadow = true;
    }
  });

  const box = new THREE.Box3().setFromObject(model);
  if (box.isEmpty()) {
    throw new Error('the model has no geometry');
  }
  const center = box.getCenter(new THREE.Vector3());
  const size = box.getSize(new THREE.Vector3());
  const radius = box.getBoundingSphere(new THREE.Sphere()).radius;

  // Three-quarter view: 35 degrees round from the front, 25 degrees above.
  const camera = new THREE.PerspectiveCamera(30, width / height, radius / 100, radius * 100);
  const direction = new THREE.Vector3()
    .setFromSphericalCoords(1, THREE.MathUtils.degToRad(65), THREE.MathUtils.degToRad(35));
  frame(camera, worldVertices(model), center, direction, radius, 0.78);

  // Sky and ground light, a key light from high on the left (its shadows fall to the right,
  // in view) and a weak fill from the right.
  scene.add(new THREE.HemisphereLight(0xffffff, 0x8c8478, 1.5));
  const sun = new THREE.DirectionalLight(0xffffff, 2.0);
  sun.position.copy(center).add(new THREE.Vector3(-radius * 1.2, radius * 4, radius * 1.6));
  sun.target.position.copy(center);
  sun.castShadow = true;
  sun.shadow.mapSize.set(2048, 2048);
  const reach = radius * 2;
  Object.assign(sun.shadow.camera, { left: -reach, right: reach, top: reach, bottom: -reach,
                                     near: radius * 0.1, far: radius * 10 });
  sun.shadow.bias = -0.0005;
  sun.shadow.normalBias = radius * 0.002;
  scene.add(sun, sun.target);
  const fill = new THREE.DirectionalLight(0xffffff, 0.5);
  fill.position.copy(center).add(new THREE.Vector3(radius * 2, radius, radius));
  scene.add(fill);

  // A floor that shows only the shadows cast on it, just below the model.
  const floor = new THREE.Mesh(new THREE.PlaneGeometry(radius * 8, radius * 8),
                               new THREE.ShadowMaterial({ opacity: 0.18 }));
  floor.rotation.x = -Math.PI / 2;
  floor.position.set(center.x, box.min.y - radius * 0.001, center.z);
  floor.receiveShadow = true;
  scene.add(floor);

  renderer.render(scene, camera);
  // Wait for the frame to reach the screen before saying so.
  await new Promise((resolve) => requestAnimationFrame(() => requestAnimationFrame(resolve)));
  renderer.render(scene, camera);
  body.dataset.size = `${size.x.toFixed(3)} ${size.y.toFixed(3)} ${size.z.toFixed(3)}`;
  body.dataset.viewport = `${width}x${height}`;
  body.dataset.state = 'done';
  console.log('render: done, model size', body.dataset.size);
}

// Points the camera along -direction at the model and moves it so that the model's vertices,
// projected, fill `fill` of the view's width or height (whichever is tighter), centred.
function frame(camera, points, center, direction, radius, fill) {
  const target = center.clone();
  let distance = radius * 3;
  const point = new THREE.Vector3();
  const right = new THREE.Vector3();
  const up = new THREE.Vector3();
  for (let round = 0; round < 20; ++round) {
    camera.position.copy(target).addScaledVector(direction, distance);
    camera.lookAt(target);
    camera.updateMatrixWorld(true);
    let minX = Infinity, maxX = -Infinity, minY = Infinity, maxY = -Infinity;
    for (const p of points) {
      point.copy(p).project(camera);
      minX = Math.min(minX, point.x); maxX = Math.max(maxX, point.x);
      minY = Math.min(minY, point.y); maxY = Math.max(maxY, point.y);
    }
    // Centre: move the target across the view by the projection's offset (normalized device
    // coordinates, scaled to world units at the target's distance).
    const halfHeight = distance * Math.tan(THREE.MathUtils.degToRad(camera.fov / 2));
    const halfWidth = halfHeight * camera.aspect;
    right.setFromMatrixColumn(camera.matrixWorld, 0);
    up.setFromMatrixColumn(camera.matrixWorld, 1);
    target.addScaledVector(right, ((minX + maxX) / 2) * halfWidth);
    target.addScaledVector(up, ((minY + maxY) / 2) * halfHeight);
    // Size: the projected extent shrinks about as the distance grows.
    const extent = Math.max((maxX - minX) / 2, (maxY - minY) / 2);
    distance *= extent / fill;
  }
  camera.position.copy(target).addScaledVector(direction, distance);
  camera.lookAt(target);
  camera.near = distance / 100;
  camera.far = distance + radius * 10;
  camera.updateProjectionMatrix();
}

// Every vertex of the model's meshes, in world space.
function worldVertices(model) {
  const points = [];
  model.traverse((node) => {
    const position = node.isMesh && node.geometry.getAttribute('position');
    if (!position) {
      return;
    }
    for (let i = 0; i < position.count; ++i) {
      points.push(new THREE.Vector3().fromBufferAttribute(position, i)
        .applyMatrix4(node.matrixWorld));
    }
  });
  return points;
}
