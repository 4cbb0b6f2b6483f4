// Kemo (H-Linvera) browser extension: a context-menu entry and a toolbar button that hand the link,
// else the selected address, else the page to the running H-Linvera through its native-messaging
// host, which starts the program when none runs. One script for Chromium-family browsers (service
// worker) and Firefox (background script).
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
    };
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

    async function createMenu() {
        await api.contextMenus.removeAll();
        api.contextMenus.create({id: MENU_ID, title: CAPTION, contexts: ['page', 'link', 'selection', 'image']});
    }

    api.runtime.onInstalled.addListener(() => createMenu().catch(() => {}));
    api.runtime.onStartup?.addListener(() => createMenu().catch(() => {}));
    api.contextMenus.onClicked.addListener((info, tab) => {
        if (info.menuItemId === MENU_ID)
            onMenuClicked(info, tab);
    });
    actionApi.onClicked.addListener(tab => onButtonClicked(tab));

    return {HOST, MENU_ID, CAPTION, MESSAGES, selectedAddress, pickPage, failureMessage, onMenuClicked, onButtonClicked};
})();

globalThis.linvera = linvera;
