// Kemo (H-Linvera) browser extension: a context-menu entry and a toolbar button that hand the link,
// else the selected address, else the page to the running H-Linvera through its native-messaging
// host, which starts the program when none runs. The entries follow the settings' check boxes: the
// host says which are registered, asked when the browser starts, every minute and (Firefox) when a
// menu opens. One script for Chromium-family browsers (service worker) and Firefox (background script).
'use strict';

const linvera = (() => {
    const api = globalThis.browser ?? globalThis.chrome;
    const actionApi = api.action ?? api.browserAction;

    const HOST = 'com.halvex.linvera';
    const MENU_ID = 'linvera-convert';
    const CAPTION = 'KemoでURLを短縮化＆ﾌﾟﾚﾋﾞｭｰ';
    const MESSAGES = {
        noHost: 'Kemo (H-Linvera) が見つかりません。インストールして、各種設定で右ｸﾘｯｸﾒﾆｭｰかﾂｰﾙﾊﾞｰｱｲｺﾝを登録してください。',
        hostFailed: 'Kemo (H-Linvera) の連携プログラムが応答しませんでした。',
        refused: 'Kemo (H-Linvera) に渡せませんでした: ',
        noUrl: '渡せるURLがありません。',
        buttonOff: 'Kemo (H-Linvera) の各種設定で「ｲﾝﾀｰﾈｯﾄｴｸｽﾌﾟﾛｰﾗｰにﾂｰﾙﾊﾞｰｱｲｺﾝを登録」にﾁｪｯｸを入れると使えます。',
    };
    const POLL_ALARM = 'linvera-registrations';
    // The browser does not tell when the boxes change: asked again at this period.
    const POLL_MINUTES = 1;
    // What the browser says when no manifest lets this extension reach the host.
    const NOT_REGISTERED = [/not found/i, /forbidden/i, /no such native application/i, /not allowed/i];
    const SCHEMES = ['http:', 'https:', 'ftp:'];

    /** The selected text when it is one web address, else null. */
    function selectedAddress(text) {
        const trimmed = (text ?? '').trim();
        if (trimmed === '' || /\s/.test(trimmed))
            return null;
        try {
            return SCHEMES.includes(new URL(trimmed).protocol) ? trimmed : null;
        } catch {
            return null;
        }
    }

    /** The page a menu click names: the link, else the selected address, else the page itself. */
    function pickPage(info, tab) {
        const title = tab?.title ?? '';
        if (info?.linkUrl)
            return {url: info.linkUrl, title};
        const selected = selectedAddress(info?.selectionText);
        if (selected)
            return {url: selected, title};
        return {url: info?.pageUrl || tab?.url || '', title};
    }

    /** The user-facing text for a failed hand-over: a thrown browser error or the host's answer. */
    function failureMessage(error, answer) {
        if (error !== undefined) {
            const text = String(error?.message ?? error);
            return NOT_REGISTERED.some(pattern => pattern.test(text)) ? MESSAGES.noHost : MESSAGES.hostFailed;
        }
        if (answer === null || typeof answer !== 'object')
            return MESSAGES.hostFailed;
        return MESSAGES.refused + String(answer.error ?? '').slice(0, 200);
    }

    async function show(tabId, message) {
        const where = tabId === undefined ? {} : {tabId};
        await actionApi.setBadgeBackgroundColor({...where, color: '#c0392b'}).catch(() => {});
        await actionApi.setBadgeText({...where, text: message === null ? '' : '!'}).catch(() => {});
        await actionApi.setTitle({...where, title: message === null ? CAPTION : `${CAPTION}\n${message}`})
            .catch(() => {});
        if (message !== null && api.notifications) {
            // The badge stays even where the desktop shows no notifications.
            api.notifications.create({type: 'basic', iconUrl: 'icons/48.png', title: CAPTION, message})
                .catch(() => {});
        }
    }

    /** Sends the page to the host; resolves to {ok, message} once the browser shows the outcome. */
    async function handOver(page, tabId) {
        if (!page.url) {
            await show(tabId, MESSAGES.noUrl);
            return {ok: false, message: MESSAGES.noUrl};
        }
        let answer;
        let error;
        try {
            answer = await api.runtime.sendNativeMessage(HOST, {url: page.url, title: page.title ?? ''});
        } catch (thrown) {
            error = thrown ?? 'error';
        }
        if (error === undefined && answer?.ok === true) {
            await show(tabId, null);
            return {ok: true, message: ''};
        }
        const message = failureMessage(error, answer);
        await show(tabId, message);
        return {ok: false, message, detail: error === undefined ? answer : String(error?.message ?? error)};
    }

    function onMenuClicked(info, tab) {
        return handOver(pickPage(info, tab), tab?.id);
    }

    function onButtonClicked(tab) {
        return handOver({url: tab?.url ?? '', title: tab?.title ?? ''}, tab?.id);
    }

    async function createMenu(visible = true) {
        await api.contextMenus.removeAll();
        api.contextMenus.create({id: MENU_ID, title: CAPTION, contexts: ['page', 'link', 'selection', 'image'],
                                 visible});
    }

    /** Which entries the settings register: {menu, button}, or null when the host gave no usable answer. */
    async function queryRegistrations() {
        try {
            const answer = await api.runtime.sendNativeMessage(HOST, {query: 'registrations'});
            return answer?.ok === true ? {menu: answer.menu === true, button: answer.button === true} : null;
        } catch (thrown) {
            // Unticking both boxes removes the host's manifest: then neither entry is registered.
            const text = String(thrown?.message ?? thrown);
            return NOT_REGISTERED.some(pattern => pattern.test(text)) ? {menu: false, button: false} : null;
        }
    }

    /** Shows the menu entry and enables the button as registered; the outcome is kept for the session. */
    async function apply(state) {
        try {
            await api.contextMenus.update(MENU_ID, {visible: state.menu});
        } catch {
            await createMenu(state.menu); // the entry is gone (a browser that forgot it): made anew
        }
        await (state.button ? actionApi.enable() : actionApi.disable());
        await actionApi.setTitle({title: state.button ? CAPTION : `${CAPTION}\n${MESSAGES.buttonOff}`});
        await api.storage?.session?.set({registrations: {menu: state.menu, button: state.button, at: Date.now()}});
        return state;
    }

    let refreshing = null;
    /** Asks the host and applies the answer; an unusable answer leaves the entries as they are. */
    function refresh() {
        // Calls that come together (start, alarm, menu) share one question.
        refreshing ??= queryRegistrations()
            .then(state => (state === null ? null : apply(state)))
            .catch(() => null)
            .finally(() => { refreshing = null; });
        return refreshing;
    }

    /** (Re)starts the periodic question; `minutes` is POLL_MINUTES but for tests. */
    async function poll(minutes = POLL_MINUTES) {
        await api.alarms.create(POLL_ALARM, {delayInMinutes: minutes, periodInMinutes: minutes});
    }

    async function start() {
        await createMenu().catch(() => {});
        await poll().catch(() => {});
        return refresh();
    }

    api.runtime.onInstalled.addListener(() => start());
    api.runtime.onStartup?.addListener(() => start());
    api.alarms?.onAlarm.addListener(alarm => {
        if (alarm.name === POLL_ALARM)
            refresh();
    });
    // Firefox says when a menu is about to open: the entry is brought up to date before it shows.
    api.menus?.onShown?.addListener(async () => {
        if (await refresh() !== null)
            api.menus.refresh();
    });
    api.contextMenus.onClicked.addListener((info, tab) => {
        if (info.menuItemId === MENU_ID)
            onMenuClicked(info, tab);
    });
    actionApi.onClicked.addListener(tab => onButtonClicked(tab));

    return {HOST, MENU_ID, CAPTION, MESSAGES, POLL_ALARM, POLL_MINUTES, selectedAddress, pickPage, failureMessage,
            onMenuClicked, onButtonClicked, refresh, poll};
})();

globalThis.linvera = linvera;
