// End to end in a real browser: Chromium or Firefox ESR, headless, with the unpacked extension; the
// built H-Linvera, its native-messaging host and its mailbox server; a loopback page and a loopback
// shortening service. The extension's own menu and button handlers run in its background (Chromium's
// service worker, Firefox's background page); what H-Linvera converted is read back over its
// automation interface (the after-URL box). Run under a private session bus (dbus-run-session):
//   node run.mjs --browser chromium|firefox --bin <program folder> --extension <folder>
// The extension is where the Debian package puts it: for Chromium <folder> is the one Debian's wrapper
// scans (usr/share/chromium/extensions, each folder in it loaded with --load-extension), for Firefox
// the add-on's own folder under usr/share/mozilla/extensions.
import assert from 'node:assert/strict';
import {execFile, spawn} from 'node:child_process';
import {createHash} from 'node:crypto';
import {existsSync} from 'node:fs';
import fs from 'node:fs/promises';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import {after, before, test} from 'node:test';
import {promisify} from 'node:util';

const SKIP = 77; // the ctest registration's SKIP_RETURN_CODE
const started = Date.now();

function option(name) {
    const at = process.argv.indexOf(name);
    return at > 0 ? process.argv[at + 1] : undefined;
}
const family = option('--browser') ?? 'chromium';
const firefox = family === 'firefox';
const bin = path.resolve(option('--bin') ?? '');
const extensionsFolder = path.resolve(option('--extension') ?? '');
// The wrapper's `ls -dm <folder>/*`: every folder in it, in order, one --load-extension list.
const loadExtension = firefox || !existsSync(extensionsFolder) ? [] : [`--load-extension=${
    (await fs.readdir(extensionsFolder)).sort().map(name => path.join(extensionsFolder, name)).join(',')}`];
const extension = firefox ? extensionsFolder : path.join(extensionsFolder, 'halvex-linvera');
const browserPath = firefox ? '/usr/bin/firefox-esr' : '/usr/bin/chromium';
const FIREFOX_ID = 'linvera@halvex.example';
// The address Firefox gives the extension's pages, fixed so the test can open one.
const FIREFOX_UUID = '6b1c0a8e-1f2d-4c3b-9a8e-0d1f2a3b4c5d';

/** A missing tool skips the test on a developer's machine; under CI, where the test command
 *  installs everything, it is a failure. */
function missing(what) {
    if (process.env.CI) {
        console.error(`FAIL: ${what}`);
        process.exit(1);
    }
    console.log(`SKIP: ${what}`);
    process.exit(SKIP);
}

let puppeteer;
try {
    puppeteer = (await import('puppeteer-core')).default;
} catch {
    missing('puppeteer-core is not installed (npm ci in tests/browser/e2e; scripts/test.sh does it)');
}
if (!existsSync(browserPath))
    missing(`no browser at ${browserPath} (scripts/setup.sh --test installs it)`);
for (const needed of [path.join(bin, 'H-Linvera'), path.join(bin, 'linvera-native-host'),
                      path.join(bin, 'linvera-reg'), path.join(extension, 'manifest.json')])
    assert.ok(existsSync(needed), `${needed} is missing: build the programs first`);
assert.ok(process.env.DBUS_SESSION_BUS_ADDRESS, 'needs a private session bus: run under dbus-run-session');

const run = promisify(execFile);
const LINVERA = 'HVXLinvera.Linvera';

/** Polls `probe` every 200 ms until it returns a truthy value; fails after `ms`. */
async function waitFor(what, probe, ms = 60000) {
    const end = Date.now() + ms;
    for (;;) {
        const value = await probe().catch(() => undefined);
        if (value)
            return value;
        if (Date.now() > end)
            throw new Error(`timed out after ${ms} ms waiting for ${what}`);
        await new Promise(resolve => setTimeout(resolve, 200));
    }
}

async function gdbus(destination, objectPath, method, ...args) {
    const {stdout} = await run('gdbus', ['call', '--session', '--dest', destination, '--object-path', objectPath,
                                         '--method', method, ...args], {timeout: 15000});
    return stdout.trim();
}

/** The text of one of H-Linvera's boxes, read over its automation interface. */
async function linvera(method) {
    const answer = await gdbus(LINVERA, '/Linvera', `${LINVERA}.${method}`);
    const match = /^\(<'(.*)'>,\)$/s.exec(answer);
    assert.ok(match, `unexpected answer of ${method}: ${answer}`);
    return match[1];
}

async function linveraRuns() {
    const answer = await gdbus('org.freedesktop.DBus', '/org/freedesktop/DBus', 'org.freedesktop.DBus.NameHasOwner',
                               LINVERA);
    return answer === '(true,)';
}

async function quitLinvera() {
    if (await linveraRuns().catch(() => false)) {
        await gdbus(LINVERA, '/Linvera', `${LINVERA}.Quit`).catch(() => {}); // it may end before answering
        await waitFor('H-Linvera to end', async () => !(await linveraRuns()), 20000);
    }
}

/** The id Chromium gives an unpacked extension with this public key. */
function extensionId(base64Key) {
    const hex = createHash('sha256').update(Buffer.from(base64Key, 'base64')).digest('hex').slice(0, 32);
    return [...hex].map(digit => String.fromCharCode(97 + parseInt(digit, 16))).join('');
}

// ---- a private home: the programs, the registry store and the browser profile live in it

const home = await fs.mkdtemp(path.join(os.tmpdir(), 'linvera-e2e-'));
const config = path.join(home, '.config');
Object.assign(process.env, {
    HOME: home,
    XDG_CONFIG_HOME: config,
    XDG_DATA_HOME: path.join(home, '.local/share'),
    XDG_CACHE_HOME: path.join(home, '.cache'),
    XDG_RUNTIME_DIR: path.join(home, 'runtime'),
    TMPDIR: path.join(home, 'tmp'),
    QT_QPA_PLATFORM: 'offscreen',
    ASAN_OPTIONS: `${process.env.ASAN_OPTIONS ? process.env.ASAN_OPTIONS + ':' : ''}detect_leaks=0`,
});
for (const folder of ['.config', '.local/share', '.cache', 'tmp'])
    await fs.mkdir(path.join(home, folder), {recursive: true});
await fs.mkdir(path.join(home, 'runtime'), {mode: 0o700});
// The user has Chromium and Firefox; the browser's profile is in its configuration folder.
const chromiumFolder = path.join(config, 'chromium');
const mozillaFolder = path.join(home, '.mozilla');
const profile = firefox ? path.join(mozillaFolder, 'firefox', 'e2e') : chromiumFolder;
await fs.mkdir(chromiumFolder, {recursive: true});
await fs.mkdir(profile, {recursive: true});
const hostManifest = firefox ? path.join(mozillaFolder, 'native-messaging-hosts', 'com.halvex.linvera.json')
                             : path.join(chromiumFolder, 'NativeMessagingHosts', 'com.halvex.linvera.json');

// ---- loopback servers: the page the browser shows, and the shortening service H-Linvera calls

const shortenCalls = [];
const shortOf = longUrl => `http://s.example/${createHash('sha1').update(longUrl).digest('hex').slice(0, 8)}`;
const server = http.createServer((request, response) => {
    const url = new URL(request.url, 'http://127.0.0.1');
    if (url.pathname === '/shorten') {
        const longUrl = url.searchParams.get('longUrl') ?? '';
        shortenCalls.push(longUrl);
        const quoted = JSON.stringify(longUrl);
        // The real service's textual shape, which H-Linvera reads.
        response.writeHead(200, {'Content-Type': 'application/json'});
        response.end(`{"errorCode": 0, "errorMessage": "", "results": {${quoted}: {"hash": "h", "shortKeywordUrl": "", ` +
                     `"shortUrl": ${JSON.stringify(shortOf(longUrl))}, "userHash": "h"}}, "statusCode": "OK"}`);
        return;
    }
    response.writeHead(200, {'Content-Type': 'text/html; charset=utf-8'});
    response.end('<!doctype html><title>試験 ページ</title><a id="link" href="/linked?x=1">link</a>');
});
await new Promise(resolve => server.listen(0, '127.0.0.1', resolve));
const origin = `http://127.0.0.1:${server.address().port}`;
const pageUrl = `${origin}/page.html`;

async function reg(...args) {
    await run(path.join(bin, 'linvera-reg'), args, {timeout: 30000});
}
// Every service is this machine's: the shortener is the server above, everything else a closed port.
for (const name of ['ShortenerApiHost', 'ShortenerAltApiHost', 'ShortenerDomain', 'ShortenerAltDomain', 'StoreHost',
                    'StoreHostPrefix', 'LiveHost', 'LiveShortDomain', 'MicroblogHost', 'PictureHost', 'MakerSiteHost',
                    'MakerNoticeHost', 'MakerLiveHost']) {
    const value = name.startsWith('ShortenerApi') || name === 'ShortenerAltApiHost' ? origin.slice(7) : '127.0.0.1:9';
    await reg('add', 'HKLM\\SOFTWARE\\HALVEX\\linvera\\endpoints', '/v', name, '/d', value, '/f');
}
const param = 'HKLM\\SOFTWARE\\HALVEX\\linvera\\param';
await reg('add', param, '/v', 'Version', '/d', '2_1_0', '/f'); // no first-run message
await reg('add', param, '/v', 'ShortURLType', '/d', '0', '/f'); // the designed service, imitated above
await reg('add', param, '/v', 'MenuExt', '/d', '1', '/f');
await reg('add', param, '/v', 'ToolbarIcon', '/d', '0', '/f');

let browser;
let page;
let tab;
let inExtension; // runs fn(linvera, api, ...args) in the extension's background

/** Code for the extension's background, as a text: extension code may not compile text itself. */
function call(fn, args) {
    return `(${fn.toString()})(linvera, globalThis.browser ?? chrome, ...${JSON.stringify(args)})`;
}

async function launchChromium() {
    browser = await puppeteer.launch({
        executablePath: browserPath,
        headless: true,
        pipe: true,
        userDataDir: profile,
        enableExtensions: true,
        args: ['--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking',
               '--disable-component-update', '--disable-sync', '--disable-quic', ...loadExtension],
        protocolTimeout: 60000,
        timeout: 60000,
    });
    const target = await browser.waitForTarget(t => t.type() === 'service_worker' &&
                                                    t.url().endsWith('/background.js'), {timeout: 30000});
    const worker = await target.worker();
    inExtension = (fn, ...args) => worker.evaluate(call(fn, args));
    const key = JSON.parse(await fs.readFile(path.join(extension, 'manifest.json'), 'utf8')).key;
    assert.equal(new URL(worker.url()).host, extensionId(key));
}

async function launchFirefox() {
    browser = await puppeteer.launch({
        browser: 'firefox',
        executablePath: browserPath,
        headless: true,
        userDataDir: profile,
        // Lets the test open a page of the extension, from which it reaches the background page.
        args: ['-remote-allow-system-access'],
        extraPrefsFirefox: {
            'extensions.webextensions.uuids': JSON.stringify({[FIREFOX_ID]: FIREFOX_UUID}),
            'network.proxy.type': 0,
        },
        protocolTimeout: 60000,
        timeout: 60000,
    });
    // Installed as a temporary add-on, as a user loads it unpacked.
    assert.equal(await browser.installExtension(extension), FIREFOX_ID);
    const extensionPage = await browser.newPage();
    // An extension document reports no load to the driver: wait for its API instead.
    extensionPage.goto(`moz-extension://${FIREFOX_UUID}/manifest.json`).catch(() => {});
    await waitFor('a page of the extension', async () => (await extensionPage.evaluate(
        () => typeof browser?.runtime?.getBackgroundPage)) === 'function', 30000);
    await waitFor('the extension\'s background', async () => extensionPage.evaluate(
        async () => typeof (await browser.runtime.getBackgroundPage())?.linvera === 'object'), 30000);
    // The handlers are the background page's own; the page only calls them.
    inExtension = (fn, ...args) => extensionPage.evaluate(
        `(async () => { const background = await browser.runtime.getBackgroundPage();
                        return (${fn.toString()})(background.linvera, background.browser,
                                                  ...${JSON.stringify(args)}); })()`);
}

before(async () => {
    // The first run of H-Linvera applies the ticked box: it registers the host for the browsers the
    // user has. Then it ends, so that the browser later finds no window running.
    const first = spawn(path.join(bin, 'H-Linvera'), [], {stdio: 'inherit'});
    try {
        await waitFor('H-Linvera to answer', async () => (await gdbus(LINVERA, '/Linvera',
                                                                      `${LINVERA}.getMainWindowState`)) !== '');
        await waitFor('the host manifest', async () => existsSync(hostManifest), 10000);
    } finally {
        await quitLinvera().catch(() => first.kill());
    }

    await (firefox ? launchFirefox() : launchChromium());
    page = await browser.newPage();
    await page.goto(pageUrl, {timeout: 30000});
    await page.bringToFront();
    const tabId = await inExtension(async (L, api) =>
        (await api.tabs.query({active: true, lastFocusedWindow: true}))[0]?.id);
    tab = {id: tabId, url: page.url(), title: await page.title()};
    assert.equal(tab.title, '試験 ページ');
});

after(async () => {
    await browser?.close().catch(() => {});
    await quitLinvera().catch(() => {});
    server.close();
    await fs.rm(home, {recursive: true, force: true}).catch(() => {});
    console.log(`browser test took ${((Date.now() - started) / 1000).toFixed(1)} s`);
});

/** Waits until H-Linvera shows the short link the loopback service made for `url`. */
async function convertedInLinvera(url) {
    let seen = {};
    try {
        await waitFor(`H-Linvera to show ${url} converted`, async () => {
            // The short link is made from the long one: it names which address was converted.
            seen = {running: await linveraRuns(), after: await linvera('GetAfterUrl')};
            return seen.after === shortOf(url);
        });
    } catch (error) {
        error.message += `; last seen ${JSON.stringify(seen)}, service asked for ${JSON.stringify(shortenCalls)}`;
        throw error;
    }
    assert.ok(shortenCalls.includes(url), `the shortening service was not asked for ${url}`);
}

test('the host manifest names the built host and the extension\'s own id', async () => {
    const manifest = JSON.parse(await fs.readFile(hostManifest, 'utf8'));
    assert.equal(manifest.name, 'com.halvex.linvera');
    assert.equal(manifest.path, path.join(bin, 'linvera-native-host'));
    if (firefox) {
        assert.deepEqual(manifest.allowed_extensions, [FIREFOX_ID]);
    } else {
        const key = JSON.parse(await fs.readFile(path.join(extension, 'manifest.json'), 'utf8')).key;
        assert.deepEqual(manifest.allowed_origins, [`chrome-extension://${extensionId(key)}/`]);
    }
});

test('toolbar button with no window running starts H-Linvera, which converts the page', async () => {
    assert.equal(await linveraRuns(), false);
    const result = await inExtension((L, api, t) => L.onButtonClicked(t), tab);
    assert.deepEqual(result, {ok: true, message: ''});
    await convertedInLinvera(pageUrl);
});

test('menu entry on a link converts the link in the running window', async () => {
    const linkUrl = await page.$eval('#link', a => a.href);
    const result = await inExtension((L, api, t, link) => L.onMenuClicked(
        {menuItemId: L.MENU_ID, linkUrl: link, pageUrl: t.url}, t), tab, linkUrl);
    assert.equal(result.ok, true, JSON.stringify(result));
    await convertedInLinvera(linkUrl);
});

test('menu entry on a selected address converts that address', async () => {
    const selected = `${origin}/selected?q=2`;
    const result = await inExtension((L, api, t, text) => L.onMenuClicked(
        {menuItemId: L.MENU_ID, selectionText: ` ${text}\n`, pageUrl: t.url}, t), tab, selected);
    assert.equal(result.ok, true, JSON.stringify(result));
    await convertedInLinvera(selected);
});

test('the menu entry is registered with its caption', async () => {
    // A second entry of the same id is refused: the extension's own entry exists.
    const error = await inExtension((L, api) => new Promise(resolve => api.contextMenus.create(
        {id: L.MENU_ID, title: 'x'}, () => resolve(api.runtime.lastError?.message ?? ''))));
    assert.match(error, /duplicate|already exists/i);
    assert.equal(await inExtension(L => L.CAPTION), 'KemoでURLを短縮化＆ﾌﾟﾚﾋﾞｭｰ');
});

test('a missing host gives the extension\'s message, not silence', async () => {
    const aside = `${hostManifest}.aside`;
    await fs.rename(hostManifest, aside);
    try {
        const result = await inExtension((L, api, t) => L.onButtonClicked(t), tab);
        assert.equal(result.ok, false, JSON.stringify(result));
        assert.equal(result.message, await inExtension(L => L.MESSAGES.noHost), JSON.stringify(result));
        assert.equal(await inExtension((L, api, id) => api.action.getBadgeText({tabId: id}), tab.id), '!');
        assert.match(await inExtension((L, api, id) => api.action.getTitle({tabId: id}), tab.id), /見つかりません/);
    } finally {
        await fs.rename(aside, hostManifest);
    }
    // Registered again: the next click goes through and the mark goes away.
    const result = await inExtension((L, api, t) => L.onButtonClicked(t), tab);
    assert.equal(result.ok, true, JSON.stringify(result));
    assert.equal(await inExtension((L, api, id) => api.action.getBadgeText({tabId: id}), tab.id), '');
});

// ---- the entries follow the check boxes: the registrations in the store of the running program

const MENU_KEY = 'HKCU\\Software\\Microsoft\\Internet Explorer\\MenuExt\\KemoでURLを短縮化＆ﾌﾟﾚﾋﾞｭｰ';
const BUTTON_KEY = 'HKCU\\Software\\Microsoft\\Internet Explorer\\Extensions\\{5D3A8E21-7C4B-4F10-9B6E-2A71C0D84F3B}';

async function register(key, on) {
    if (on)
        await reg('add', key, '/f');
    else
        await reg('delete', key, '/f').catch(() => {}); // already gone
}

/** What the extension shows: the state it keeps for the session, and the button's own state. */
function shown() {
    return inExtension(async (L, api, isFirefox) => {
        const action = api.action ?? api.browserAction;
        return {
            kept: (await api.storage.session.get('registrations')).registrations ?? null,
            enabled: await (isFirefox ? action.isEnabled({}) : action.isEnabled()),
            title: await action.getTitle({}),
            buttonOff: L.MESSAGES.buttonOff,
        };
    }, firefox);
}

test('the menu entry and the button follow the registrations of the running program, each within the minute',
     async () => {
    // The extension asks every minute; the test has it ask every 6 s so that four changes fit.
    await inExtension(L => L.poll(0.1));
    const running = spawn(path.join(bin, 'H-Linvera'), [], {stdio: 'inherit'});
    try {
        await waitFor('H-Linvera to answer', async () => (await gdbus(LINVERA, '/Linvera',
                                                                      `${LINVERA}.getMainWindowState`)) !== '');
        const rows = [
            // what, menu ticked, toolbar ticked, host manifest in place
            ['toolbar box ticked too', true, true, true],
            ['both unticked', false, false, true],
            ['both unticked, manifest removed as the settings do', false, false, false],
            ['menu box ticked again', true, false, true],
        ];
        for (const [what, menu, button, manifest] of rows) {
            await register(MENU_KEY, menu);
            await register(BUTTON_KEY, button);
            const aside = `${hostManifest}.aside`;
            if (!manifest)
                await fs.rename(hostManifest, aside);
            else if (existsSync(aside))
                await fs.rename(aside, hostManifest);
            const since = Date.now();
            let last;
            const state = await waitFor(`${what}: the extension to follow`, async () => {
                last = await shown();
                return last.kept && last.kept.at > since && last.kept.menu === menu && last.kept.button === button &&
                       last.enabled === button ? last : undefined;
            }, 60000).catch(error => {
                error.message += `; last seen ${JSON.stringify(last)}`;
                throw error;
            });
            assert.equal(state.title.includes(state.buttonOff), !button, `${what}: ${state.title}`);
            console.log(`${what}: followed after ${((Date.now() - since) / 1000).toFixed(1)} s`);
        }
        assert.equal(await linveraRuns(), true);
    } finally {
        await quitLinvera().catch(() => running.kill());
        if (existsSync(`${hostManifest}.aside`))
            await fs.rename(`${hostManifest}.aside`, hostManifest);
    }
});
