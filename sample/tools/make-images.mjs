// Draws the sample installation's images (backgrounds, buttons, icons) in a
// headless Chromium canvas and writes them as PNG and JPEG files.
// Run once after changing a design: node sample/tools/make-images.mjs
import { execFileSync } from 'node:child_process';
import { mkdtempSync, writeFileSync, mkdirSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const sample = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..');
const web = 'install/web/controls';
const buttons = 'install/buttons png/arrows';

// name: [file, width, height, kind, colour A, colour B]
const images = [
  [`${web}/backgrnd.jpg`, 64, 40, 'gradient', '#1d3a4f', '#3f7396'],
  [`${web}/rev_menu_back.jpg`, 48, 32, 'gradient', '#3c3c46', '#70707e'],
  [`${web}/certificate.jpg`, 64, 46, 'frame', '#fbf6e6', '#a8842c'],
  [`${web}/adl_roadmap_bkgd.jpg`, 64, 40, 'stripes', '#e8eef2', '#87a7bb'],
  [`${web}/qst_bkgd_fir.jpg`, 48, 32, 'gradient', '#5a1f12', '#c85a28'],
  [`${web}/test_bkgd_fir.jpg`, 48, 32, 'stripes', '#5a1f12', '#c85a28'],
  [`${web}/qst_bkgd_saf.jpg`, 48, 32, 'gradient', '#23451f', '#5d9b4c'],
  [`${web}/test_bkgd_saf.jpg`, 48, 32, 'stripes', '#23451f', '#5d9b4c'],
  [`${web}/qst_bkgd_fin.jpg`, 48, 32, 'gradient', '#2c2552', '#6c5fb8'],
  [`${web}/test_bkgd_fin.jpg`, 48, 32, 'stripes', '#2c2552', '#6c5fb8'],
  [`${web}/qst_bkgd_abc.jpg`, 48, 32, 'gradient', '#4f4415', '#b89b30'],
  [`${web}/test_bkgd_abc.jpg`, 48, 32, 'stripes', '#4f4415', '#b89b30'],
  [`${web}/qst_bkgd_int.jpg`, 48, 32, 'gradient', '#173f45', '#3b97a3'],
  [`${web}/test_bkgd_int.jpg`, 48, 32, 'stripes', '#173f45', '#3b97a3'],
  [`${web}/qst_bkgd_cst.jpg`, 48, 32, 'gradient', '#3a3a3a', '#8a8a8a'],
  [`${web}/test_bkgd_cst.jpg`, 48, 32, 'stripes', '#3a3a3a', '#8a8a8a'],
  [`${web}/btn_finish.png`, 24, 24, 'tick', '#2f7d32', '#ffffff'],
  [`${web}/btn_next.png`, 24, 24, 'right', '#1d5f8a', '#ffffff'],
  [`${web}/images/ui-icons_light.png`, 32, 16, 'dots', '#ffffff', '#6b7c88'],
  [`${web}/images/ui-bg_panel.png`, 4, 24, 'vgradient', '#f4f6f8', '#d5dde3'],
  [`${buttons}/gray/up png/up_exit.png`, 24, 24, 'cross', '#8d939a', '#ffffff'],
  [`${buttons}/royal/dn png/dn_exit.png`, 24, 24, 'cross', '#26408f', '#ffffff'],
];

const page = `<!DOCTYPE html><html><body><pre id="out"></pre><script>
const images = ${JSON.stringify(images)};
const out = {};
for (const [file, w, h, kind, a, b] of images) {
  const c = document.createElement('canvas'); c.width = w; c.height = h;
  const g = c.getContext('2d');
  const fill = (x) => { g.fillStyle = x; };
  if (kind === 'gradient' || kind === 'vgradient') {
    const grad = kind === 'gradient' ? g.createLinearGradient(0, 0, w, h) : g.createLinearGradient(0, 0, 0, h);
    grad.addColorStop(0, a); grad.addColorStop(1, b); fill(grad); g.fillRect(0, 0, w, h);
  } else if (kind === 'stripes') {
    fill(a); g.fillRect(0, 0, w, h); fill(b);
    for (let x = -h; x < w; x += 8) { g.beginPath(); g.moveTo(x, h); g.lineTo(x + 4, h); g.lineTo(x + 4 + h, 0); g.lineTo(x + h, 0); g.fill(); }
  } else if (kind === 'frame') {
    fill(a); g.fillRect(0, 0, w, h); g.strokeStyle = b; g.lineWidth = 3; g.strokeRect(3, 3, w - 6, h - 6);
  } else if (kind === 'dots') {
    for (let i = 0; i < w / 16; i++) { fill(b); g.beginPath(); g.arc(8 + 16 * i, 8, 5, 0, 7); g.fill(); fill(a); g.beginPath(); g.arc(8 + 16 * i, 8, 2, 0, 7); g.fill(); }
  } else {
    fill(a); g.beginPath(); g.arc(w / 2, h / 2, w / 2 - 1, 0, 7); g.fill();
    g.strokeStyle = b; g.lineWidth = 3; g.lineCap = 'round'; g.beginPath();
    if (kind === 'tick') { g.moveTo(6, 12); g.lineTo(10, 16); g.lineTo(18, 8); }
    if (kind === 'right') { g.moveTo(9, 6); g.lineTo(16, 12); g.lineTo(9, 18); }
    if (kind === 'cross') { g.moveTo(8, 8); g.lineTo(16, 16); g.moveTo(16, 8); g.lineTo(8, 16); }
    g.stroke();
  }
  out[file] = c.toDataURL(file.endsWith('.jpg') ? 'image/jpeg' : 'image/png', 0.85).split(',')[1];
}
document.getElementById('out').textContent = JSON.stringify(out);
</script></body></html>`;

const tmp = mkdtempSync(path.join(tmpdir(), 'quarvel-images-'));
try {
  writeFileSync(path.join(tmp, 'draw.html'), page);
  const dom = execFileSync('chromium', ['--headless', '--no-sandbox', '--disable-gpu', '--disable-background-networking',
    '--disable-component-update', '--disable-sync', '--no-first-run', `--user-data-dir=${tmp}/profile`,
    '--dump-dom', `file://${tmp}/draw.html`], { encoding: 'utf8', stdio: ['ignore', 'pipe', 'ignore'] });
  const json = dom.slice(dom.indexOf('<pre id="out">') + 14, dom.indexOf('</pre>'));
  const files = JSON.parse(json.replaceAll('&quot;', '"').replaceAll('&amp;', '&'));
  for (const [file, data] of Object.entries(files)) {
    const target = path.join(sample, file);
    mkdirSync(path.dirname(target), { recursive: true });
    writeFileSync(target, Buffer.from(data, 'base64'));
    console.log(file);
  }
} finally {
  rmSync(tmp, { recursive: true, force: true });
}
