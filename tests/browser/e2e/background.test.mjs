// The extension's script on its own: which address a click hands over, what the user is told when
// the hand-over fails, and what it registers. The browser's API is a recording stand-in; the real
// browser runs the same script in run.mjs.
import assert from 'node:assert/strict';
import {readFileSync} from 'node:fs';
import path from 'node:path';
import {describe, test} from 'node:test';
import vm from 'node:vm';

const source = readFileSync(path.join(process.env.LINVERA_EXTENSION_SOURCE ??
                                      new URL('../../../src/browser/extension', import.meta.url).pathname,
                                      'background.js'), 'utf8');

/** Loads the script against a stand-in API; `native` answers sendNativeMessage. */
function load({native = async () => ({ok: true}), namespace = 'chrome'} = {}) {
    const calls = {native: [], badge: [], title: [], notifications: [], menus: [], removed: 0, updates: [],
                   enabled: [], alarms: [], session: [], menuRefreshes: 0};
    const listeners = {};
    const event = name => ({addListener: fn => { listeners[name] = fn; }});
    const api = {
        runtime: {
            sendNativeMessage: async (host, message) => {
                calls.native.push({host, message});
                return native(message);
            },
            onInstalled: event('installed'),
            onStartup: event('startup'),
        },
        contextMenus: {
            removeAll: async () => { calls.removed += 1; },
            create: properties => { calls.menus.push(properties); },
            update: async (id, properties) => {
                if (!calls.menus.some(menu => menu.id === id))
                    throw new Error(`Cannot find menu item with id ${id}`);
                calls.updates.push({id, ...properties});
            },
            onClicked: event('menu'),
        },
        alarms: {
            create: async (name, info) => { calls.alarms.push({name, ...info}); },
            onAlarm: event('alarm'),
        },
        storage: {session: {set: async items => { calls.session.push(items); }}},
        action: {
            setBadgeBackgroundColor: async () => {},
            setBadgeText: async details => { calls.badge.push(details); },
            setTitle: async details => { calls.title.push(details); },
            enable: async () => { calls.enabled.push(true); },
            disable: async () => { calls.enabled.push(false); },
            onClicked: event('button'),
        },
        notifications: {create: async options => { calls.notifications.push(options); }},
    };
    if (namespace === 'browser')
        api.menus = {...api.contextMenus, onShown: event('shown'), refresh: () => { calls.menuRefreshes += 1; }};
    const context = {[namespace]: api, URL};
    context.globalThis = context;
    vm.runInNewContext(source, context);
    return {linvera: context.linvera, calls, listeners};
}

const tab = {id: 7, url: 'http://page.example/a', title: 'ページ'};

describe('which address a menu click hands over', () => {
    const {linvera} = load();
    const rows = [
        ['the link first', {linkUrl: 'http://l.example/', selectionText: 'http://s.example/', pageUrl: tab.url},
         'http://l.example/'],
        ['a selected address, trimmed', {selectionText: '  http://s.example/x?y=1\n', pageUrl: tab.url},
         'http://s.example/x?y=1'],
        ['a selected https address', {selectionText: 'https://s.example/', pageUrl: tab.url}, 'https://s.example/'],
        ['a selected ftp address', {selectionText: 'ftp://s.example/f', pageUrl: tab.url}, 'ftp://s.example/f'],
        ['selected words are no address', {selectionText: 'see http://s.example/', pageUrl: tab.url}, tab.url],
        ['selected text without a scheme', {selectionText: 's.example/x', pageUrl: tab.url}, tab.url],
        ['a selected script address is not handed over', {selectionText: 'javascript:alert(1)', pageUrl: tab.url},
         tab.url],
        ['an image without a link gives the page', {mediaType: 'image', srcUrl: 'http://i.example/p.png',
                                                    pageUrl: tab.url}, tab.url],
        ['no page address in the click: the tab\'s', {}, tab.url],
    ];
    for (const [name, info, url] of rows) {
        test(name, () => {
            assert.deepEqual({...linvera.pickPage(info, tab)}, {url, title: tab.title});
        });
    }
    test('nothing at all', () => {
        assert.deepEqual({...linvera.pickPage({}, undefined)}, {url: '', title: ''});
    });
});

describe('what the user is told', () => {
    const rows = [
        ['host not registered', async () => { throw new Error('Specified native messaging host not found.'); },
         m => m.noHost],
        ['extension not allowed', async () => {
            throw new Error('Access to the specified native messaging host is forbidden.');
        }, m => m.noHost],
        ['host ended without answering', async () => { throw new Error('Native host has exited.'); },
         m => m.hostFailed],
        ['host answered nothing usable', async () => undefined, m => m.hostFailed],
        ['host refused', async () => ({ok: false, error: 'mailbox unreachable'}),
         m => m.refused + 'mailbox unreachable'],
        ['a long refusal is cut', async () => ({ok: false, error: 'x'.repeat(5000)}),
         m => m.refused + 'x'.repeat(200)],
    ];
    for (const [name, native, expected] of rows) {
        test(name, async () => {
            const {linvera, calls} = load({native});
            const result = await linvera.onButtonClicked(tab);
            const message = expected(linvera.MESSAGES);
            assert.equal(result.ok, false);
            assert.equal(result.message, message);
            assert.deepEqual(calls.badge.map(b => ({...b})), [{tabId: 7, text: '!'}]);
            assert.equal(calls.title.at(-1).title, `${linvera.CAPTION}\n${message}`);
            assert.equal(calls.notifications.length, 1);
            assert.equal(calls.notifications[0].message, message);
        });
    }

    test('a hand-over that works sends the page and clears the mark', async () => {
        const {linvera, calls} = load();
        assert.deepEqual({...await linvera.onButtonClicked(tab)}, {ok: true, message: ''});
        assert.equal(calls.native.length, 1);
        assert.equal(calls.native[0].host, 'com.halvex.linvera');
        assert.deepEqual({...calls.native[0].message}, {url: tab.url, title: tab.title});
        assert.deepEqual(calls.badge.map(b => ({...b})), [{tabId: 7, text: ''}]);
        assert.equal(calls.title[0].title, linvera.CAPTION);
        assert.equal(calls.notifications.length, 0);
    });

    test('a tab without an address asks nothing of the host', async () => {
        const {linvera, calls} = load();
        const result = await linvera.onButtonClicked({id: 3, title: 't'});
        assert.equal(result.ok, false);
        assert.equal(result.message, linvera.MESSAGES.noUrl);
        assert.equal(calls.native.length, 0);
    });
});

describe('what the script registers', () => {
    test('the menu entry, with its caption, on pages, links, selections and images', async () => {
        const {linvera, calls, listeners} = load();
        await listeners.installed();
        await new Promise(resolve => setImmediate(resolve));
        assert.equal(calls.removed, 1);
        assert.equal(calls.menus.length, 1);
        assert.deepEqual(calls.alarms.map(a => ({...a})), [{name: linvera.POLL_ALARM, delayInMinutes: 1,
                                                           periodInMinutes: 1}]);
        assert.equal(calls.menus[0].id, linvera.MENU_ID);
        assert.equal(calls.menus[0].title, 'KemoでURLを短縮化＆ﾌﾟﾚﾋﾞｭｰ');
        assert.deepEqual([...calls.menus[0].contexts], ['page', 'link', 'selection', 'image']);
    });

    test('clicks reach the handlers; another extension entry is ignored', async () => {
        const {linvera, calls, listeners} = load();
        listeners.menu({menuItemId: 'other', linkUrl: 'http://o.example/'}, tab);
        listeners.menu({menuItemId: linvera.MENU_ID, linkUrl: 'http://l.example/'}, tab);
        listeners.button(tab);
        await new Promise(resolve => setImmediate(resolve));
        assert.deepEqual(calls.native.map(c => c.message.url), ['http://l.example/', tab.url]);
    });

    test('Firefox\'s own namespace serves as well', async () => {
        const {linvera, calls} = load({namespace: 'browser'});
        assert.equal((await linvera.onButtonClicked(tab)).ok, true);
        assert.equal(calls.native.length, 1);
    });
});

describe('the entries follow the registrations', () => {
    const notFound = async () => { throw new Error('Specified native messaging host not found.'); };
    const rows = [
        // name, the host's answer to the question, then what is shown: menu visible, button enabled
        ['both registered', async () => ({ok: true, menu: true, button: true}), {menu: true, button: true}],
        ['menu entry only', async () => ({ok: true, menu: true, button: false}), {menu: true, button: false}],
        ['toolbar button only', async () => ({ok: true, menu: false, button: true}), {menu: false, button: true}],
        ['neither', async () => ({ok: true, menu: false, button: false}), {menu: false, button: false}],
        ['no host manifest: both unticked', notFound, {menu: false, button: false}],
        ['host not allowed', async () => { throw new Error('Access to the specified native messaging host is forbidden.'); },
         {menu: false, button: false}],
        ['non-boolean answers count as unticked', async () => ({ok: true, menu: 1, button: 'yes'}),
         {menu: false, button: false}],
    ];
    for (const [name, native, shown] of rows) {
        test(name, async () => {
            const {linvera, calls, listeners} = load({native});
            await listeners.installed();
            await linvera.refresh();
            assert.deepEqual({...calls.native.at(-1).message}, {query: 'registrations'});
            assert.equal(calls.updates.at(-1).visible, shown.menu);
            assert.equal(calls.enabled.at(-1), shown.button);
            assert.equal(calls.title.at(-1).title,
                         shown.button ? linvera.CAPTION : `${linvera.CAPTION}\n${linvera.MESSAGES.buttonOff}`);
            const kept = calls.session.at(-1).registrations;
            assert.deepEqual({menu: kept.menu, button: kept.button}, shown);
        });
    }

    for (const [name, native] of [['host ended without answering', async () => { throw new Error('Native host has exited.'); }],
                                  ['host answered nothing usable', async () => ({ok: false})]]) {
        test(`${name}: the entries stay as they are`, async () => {
            const {linvera, calls} = load({native});
            assert.equal(await linvera.refresh(), null);
            assert.equal(calls.updates.length + calls.enabled.length + calls.session.length, 0);
        });
    }

    test('the period alarm asks again; another alarm does not', async () => {
        let menu = true;
        const {linvera, calls, listeners} = load({native: async () => ({ok: true, menu, button: true})});
        await listeners.installed();
        const asked = calls.native.length;
        listeners.alarm({name: 'other'});
        menu = false;
        listeners.alarm({name: linvera.POLL_ALARM});
        await new Promise(resolve => setTimeout(resolve, 10));
        assert.equal(calls.native.length, asked + 1);
        assert.equal(calls.updates.at(-1).visible, false);
    });

    test('a menu entry the browser forgot is made anew, hidden when unregistered', async () => {
        const {linvera, calls} = load({native: async () => ({ok: true, menu: false, button: false})});
        await linvera.refresh();
        assert.equal(calls.menus.length, 1);
        assert.equal(calls.menus[0].visible, false);
    });

    test('questions that come together share one answer', async () => {
        const {linvera, calls} = load({native: async () => ({ok: true, menu: true, button: true})});
        await Promise.all([linvera.refresh(), linvera.refresh(), linvera.refresh()]);
        assert.equal(calls.native.length, 1);
    });

    test('Firefox: an opening menu is brought up to date first', async () => {
        const {calls, listeners} = load({namespace: 'browser',
                                         native: async () => ({ok: true, menu: false, button: true})});
        await listeners.installed();
        const asked = calls.native.length;
        await listeners.shown({contexts: ['page']}, {id: 1});
        assert.equal(calls.native.length, asked + 1);
        assert.equal(calls.updates.at(-1).visible, false);
        assert.equal(calls.menuRefreshes, 1);
    });
});
